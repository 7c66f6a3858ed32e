#include "archive/AddSession.h"

#include "archive/ArchiveNames.h"
#include "archive/FileSource.h"
#include "archive/SafeExtract.h"
#include "archive/WorkerPool.h"
#include "platform/FileUtil.h"

#include <libdeflate.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace tessarin {

namespace {

// Progress between the start and the end of a file at most this often.
constexpr std::uint64_t ProgressStep = 1u << 20;

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    if (folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

std::string JoinEntry(const std::string& prefix, const std::string& name)
{
    return prefix.empty() ? name : prefix + "/" + name;
}

// A relative spec split into clean components; false when it climbs out with "..".
bool SplitRelative(const std::string& spec, std::vector<std::string>& parts)
{
    parts.clear();
    std::size_t start = 0;
    while (start <= spec.size()) {
        std::size_t end = spec.find('/', start);
        if (end == std::string::npos)
            end = spec.size();
        std::string part = spec.substr(start, end - start);
        if (part == "..")
            return false;
        if (!part.empty() && part != ".")
            parts.push_back(std::move(part));
        start = end + 1;
    }
    return true;
}

std::string Join(const std::vector<std::string>& parts, std::size_t count)
{
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0)
            out += '/';
        out += parts[i];
    }
    return out;
}

std::string RealPath(const std::string& path)
{
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr)
        return {};
    std::string out = real;
    std::free(real);
    return out;
}

// The time a ZIP entry keeps of t: its DOS time, local and in steps of two seconds,
// read back as libzip reads it.
std::time_t DosTime(std::time_t t)
{
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr)
        return t;
    local.tm_sec &= ~1;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

void FsyncPath(const std::string& path, int flags)
{
    TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags));
    if (fd.Valid())
        ::fsync(fd.Get());
}

} // namespace

TAddSession::TAddSession(std::string archivePath, int level, std::string password,
                         TProgress progress)
    : archivePath_(std::move(archivePath)), level_(level), password_(std::move(password)),
      progress_(std::move(progress))
{
    zip_error_init(&error_);
    // Level 0 has nothing to deflate: libzip stores, and encrypts in zip_close.
    piped_ = level_ > 0;
}

TAddSession::~TAddSession()
{
    archive_.reset(); // before the items its entries refer to
    if (source_ != nullptr)
        zip_source_free(source_);
    if (currentFd_ >= 0)
        ::close(currentFd_);
    zip_error_fini(&error_);
}

void TAddSession::Problem(const std::string& name, TArchiveProblemKind kind, std::string detail)
{
    problems_.push_back({name, kind, 0, std::move(detail)});
}

void TAddSession::Problem(const std::string& name, int systemError)
{
    problems_.push_back({name, TArchiveProblemKind::SystemError, systemError});
}

bool TAddSession::OpenArchive()
{
    if (archive_)
        return true;
    if (openTried_)
        return false;
    openTried_ = true;

    int flags = ZIP_CREATE;
    struct stat st {};
    if (::stat(archivePath_.c_str(), &st) == 0) {
        archiveExists_ = true;
        archiveDevice_ = st.st_dev;
        archiveInode_ = st.st_ino;
        // An empty file (a placeholder someone created) is an empty archive, not an error.
        if (S_ISREG(st.st_mode) && st.st_size == 0)
            flags |= ZIP_TRUNCATE;
    }
    int error = 0;
    // A new archive is written through our own file source (see FileSource.h); one that
    // exists is updated by libzip's, which keeps its permissions.
    zip_t* za = archiveExists_ ? zip_open(archivePath_.c_str(), flags, &error)
                               : OpenArchiveFile(archivePath_, flags, &error);
    if (za == nullptr) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, error);
        errorText_ = zip_error_strerror(&ze);
        zip_error_fini(&ze);
        return false;
    }
    archive_.reset(za);
    return true;
}

std::uint64_t TAddSession::CollectedBytes() const
{
    std::uint64_t total = 0;
    for (const auto& item : items_)
        if (item.Index >= 0)
            total += item.Size * static_cast<std::uint64_t>(item.Weight);
    return total;
}

std::string TAddSession::EntryName(const TAddItem& item) const
{
    // Raw: the bytes the file system gave. Without it libzip reads a name that is not
    // UTF-8 as CP437 and converts it, and the file is then looked for under a name
    // it does not have.
    const char* name =
        item.Index >= 0 && archive_
            ? zip_get_name(archive_.get(), static_cast<zip_uint64_t>(item.Index), ZIP_FL_ENC_RAW)
            : nullptr;
    return name != nullptr ? name : std::string();
}

std::string TAddSession::PathOf(const TAddItem& item, const std::string& entryName) const
{
    const std::string& prefix = rootPrefixes_[item.Root];
    if (prefix.empty())
        return JoinPath(roots_[item.Root], entryName);
    if (entryName.size() <= prefix.size())
        return roots_[item.Root]; // a file stored under another name
    return JoinPath(roots_[item.Root], entryName.substr(prefix.size() + 1));
}

void TAddSession::UseRoot(const std::string& root, const std::string& prefix)
{
    if (!roots_.empty() && roots_[currentRoot_] == root && rootPrefixes_[currentRoot_] == prefix)
        return;
    const std::string key = prefix.empty() ? root : root + '\0' + prefix;
    auto at = rootIndex_.find(key);
    if (at == rootIndex_.end()) {
        at = rootIndex_.emplace(key, static_cast<std::uint32_t>(roots_.size())).first;
        roots_.push_back(root);
        rootPrefixes_.push_back(prefix);
    }
    currentRoot_ = at->second;
}

void TAddSession::AddSpec(const std::string& spec, const std::string& root,
                          const std::string& storedAs)
{
    if (spec.empty())
        return;
    UseRoot(root, "");
    std::string relative = spec;
    if (relative.front() == '/') {
        // An absolute spec is taken relative to the root it lies under.
        const std::string base = root.empty() || root.back() == '/' ? root : root + "/";
        if (base.empty() || relative.compare(0, base.size(), base) != 0) {
            Problem(spec, TArchiveProblemKind::NotBelowRoot, root);
            return;
        }
        relative = relative.substr(base.size());
    }
    std::vector<std::string> parts;
    if (!SplitRelative(relative, parts)) {
        Problem(spec, TArchiveProblemKind::PlaceOutside, root);
        return;
    }
    if (parts.empty()) {
        if (!storedAs.empty())
            UseRoot(root, storedAs);
        WalkTree(root, storedAs, "");
        return;
    }
    struct stat st {};
    // A name holding '*' or '?' can be a real file's (a mail folder called "Why?");
    // it is a mask only when no such file is there.
    if (HasWildcard(parts.back()) &&
        ::lstat(JoinPath(root, Join(parts, parts.size())).c_str(), &st) != 0) {
        const std::string folder = Join(parts, parts.size() - 1);
        if (!storedAs.empty())
            UseRoot(JoinPath(root, folder), storedAs);
        WalkTree(JoinPath(root, folder), storedAs.empty() ? folder : storedAs, parts.back());
        return;
    }
    const std::string entry = Join(parts, parts.size());
    const std::string path = JoinPath(root, entry);
    if (::stat(path.c_str(), &st) != 0) {
        Problem(entry, errno);
        return;
    }
    const std::string& stored = storedAs.empty() ? entry : storedAs;
    if (!storedAs.empty()) {
        // Files are read from root joined with their stored names: the parts that differ
        // ("Work" stored as "Work~2") become a root of their own.
        std::vector<std::string> storedParts;
        SplitRelative(storedAs, storedParts);
        std::size_t same = 0;
        while (!S_ISDIR(st.st_mode) && same < parts.size() && same < storedParts.size() &&
               parts[parts.size() - 1 - same] == storedParts[storedParts.size() - 1 - same])
            ++same;
        UseRoot(JoinPath(root, Join(parts, parts.size() - same)),
                Join(storedParts, storedParts.size() - same));
    }
    if (S_ISDIR(st.st_mode))
        WalkTree(path, stored, "");
    else
        AddFile(path, stored);
}

void TAddSession::WalkTree(const std::string& folder, const std::string& entryPrefix,
                           const std::string& mask)
{
    TWalk walk;
    // The top may itself be reached through a link: what counts is where it leads.
    struct stat st {};
    if (::stat(folder.empty() ? "." : folder.c_str(), &st) == 0)
        walk.Walked.emplace(st.st_dev, st.st_ino);
    walk.Tops.push_back(RealPath(folder.empty() ? "." : folder));
    AddTree(folder, entryPrefix, mask, walk);
    // Links last: a folder both linked and present is stored under its own name, and a
    // link that leads back into the tree (or round in a loop) adds nothing twice.
    for (std::size_t i = 0; i < walk.Links.size(); ++i) {
        const auto [path, entry] = walk.Links[i]; // a copy: following one may add more
        if (::stat(path.c_str(), &st) != 0) {
            Problem(entry, errno);
            continue;
        }
        const std::string real = RealPath(path);
        if (real.empty() || LeadsBackUp(real, walk.Tops) ||
            !walk.Walked.emplace(st.st_dev, st.st_ino).second) {
            Problem(entry, TArchiveProblemKind::LinkNotFollowed);
            continue;
        }
        walk.Tops.push_back(real);
        AddTree(path, entry, mask, walk);
    }
}

void TAddSession::AddTree(const std::string& folder, const std::string& entryPrefix,
                          const std::string& mask, TWalk& walk)
{
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) {
        Problem(entryPrefix.empty() ? folder : entryPrefix, errno);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());

    std::vector<std::string> subfolders;
    for (const auto& name : names) {
        const std::string path = JoinPath(folder, name);
        struct stat lst {};
        if (::lstat(path.c_str(), &lst) != 0)
            continue;
        if (S_ISDIR(lst.st_mode)) {
            // A bind mount can show a folder inside itself.
            if (walk.Walked.emplace(lst.st_dev, lst.st_ino).second)
                subfolders.push_back(name);
            else
                Problem(JoinEntry(entryPrefix, name), TArchiveProblemKind::LinkNotFollowed);
            continue;
        }
        struct stat target {};
        if (S_ISLNK(lst.st_mode) && ::stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) {
            walk.Links.emplace_back(path, JoinEntry(entryPrefix, name));
            continue;
        }
        if (mask.empty() || NameMatchesMask(name, mask))
            AddFile(path, JoinEntry(entryPrefix, name));
    }
    for (const auto& name : subfolders)
        AddTree(JoinPath(folder, name), JoinEntry(entryPrefix, name), mask, walk);
}

void TAddSession::AddFile(const std::string& path, const std::string& entryName)
{
    // Open it now: a file that cannot be read is reported here and left out, instead
    // of failing the whole archive when libzip reaches it.
    TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0) {
        Problem(entryName, errno);
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        Problem(entryName, TArchiveProblemKind::NotRegularFile);
        return;
    }
    // Opened first: only then is the identity of an archive that exists known.
    if (!OpenArchive())
        return;
    if (archiveExists_ && st.st_dev == archiveDevice_ && st.st_ino == archiveInode_)
        return; // the archive itself, when it is written into the folder it stores
    zip_t* za = archive_.get();
    // libzip's own name index finds a name this session stored already; a name of an
    // earlier archive's entry is replaced.
    const zip_int64_t earlierIndex = zip_name_locate(za, entryName.c_str(), ZIP_FL_ENC_RAW);
    if (earlierIndex >= 0 && static_cast<std::size_t>(earlierIndex) < byIndex_.size() &&
        byIndex_[static_cast<std::size_t>(earlierIndex)] != nullptr) {
        TAddItem& earlier = *byIndex_[static_cast<std::size_t>(earlierIndex)];
        struct stat earlierSt {};
        if (::stat(PathOf(earlier, entryName).c_str(), &earlierSt) == 0 &&
            earlierSt.st_dev == st.st_dev && earlierSt.st_ino == st.st_ino)
            ++earlier.Weight; // listed twice: stored once, counted as often as listed
        else
            Problem(entryName, TArchiveProblemKind::NameTaken);
        return;
    }

    if (source_ == nullptr &&
        (source_ = zip_source_function(za, &TAddSession::SourceCallback, this)) == nullptr) {
        Problem(entryName, TArchiveProblemKind::Failed, zip_strerror(za));
        return;
    }
    TAddItem& item = items_.emplace_back();
    item.Root = currentRoot_;
    item.Size = static_cast<std::uint64_t>(st.st_size);
    item.Mode = st.st_mode;
    item.StoredByName = TDeflatePipeline::IsCompressedName(entryName);
    item.Replaces = earlierIndex >= 0;

    zip_source_keep(source_); // the entry's reference
    const zip_int64_t index =
        zip_file_add(za, entryName.c_str(), source_, ZIP_FL_OVERWRITE | ZIP_FL_ENC_GUESS);
    if (index < 0) {
        zip_source_free(source_); // still ours: the add failed
        Problem(entryName, TArchiveProblemKind::Failed, zip_strerror(za));
        items_.pop_back();
        return;
    }
    item.Index = index;
    if (byIndex_.size() <= static_cast<std::size_t>(index))
        byIndex_.resize(static_cast<std::size_t>(index) + 1, nullptr);
    byIndex_[static_cast<std::size_t>(index)] = &item;

    const auto uindex = static_cast<zip_uint64_t>(index);
    const bool preEncrypted = piped_ && !password_.empty();
    const bool ok = SetCompression(item) &&
                    (password_.empty() ||
                     zip_file_set_encryption(za, uindex, ZIP_EM_AES_256,
                                             preEncrypted ? nullptr : password_.c_str()) == 0) &&
                    zip_file_set_external_attributes(za, uindex, 0, ZIP_OPSYS_UNIX,
                                                     static_cast<zip_uint32_t>(item.Mode & 0xFFFF)
                                                         << 16) == 0 &&
                    zip_file_set_mtime(za, uindex, st.st_mtime, 0) == 0;
    if (!ok) {
        Problem(entryName, TArchiveProblemKind::Failed, zip_strerror(za));
        zip_delete(za, uindex);
        byIndex_[uindex] = nullptr;
        item.Index = -1;
    }
}

bool TAddSession::SetCompression(const TAddItem& item)
{
    // Encrypted by the pipeline: the entry is marked AES without a password, so libzip
    // copies what the source gives (always deflate data, stored blocks included).
    const bool preEncrypted = piped_ && !password_.empty();
    const auto index = static_cast<zip_uint64_t>(item.Index);
    return (level_ == 0 || (item.StoredByName && !preEncrypted)
                ? zip_set_file_compression(archive_.get(), index, ZIP_CM_STORE, 0)
                // DEFAULT deflates, but stores a small file that would not shrink.
                : zip_set_file_compression(archive_.get(), index, ZIP_CM_DEFAULT,
                                           static_cast<zip_uint32_t>(level_))) == 0;
}

zip_int64_t TAddSession::SourceCallback(void* userdata, void* data, zip_uint64_t len,
                                        zip_source_cmd_t cmd)
{
    auto& session = *static_cast<TAddSession*>(userdata);
    switch (cmd) {
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&session.error_, data, len);
    case ZIP_SOURCE_FREE:
        return 0; // the items belong to the session
    case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_READABLE;
    default:
        break;
    }
    TAddItem* item = session.Serving();
    if (item == nullptr) {
        zip_error_set(&session.error_, ZIP_ER_INTERNAL, 0);
        return -1;
    }
    if (cmd == ZIP_SOURCE_OPEN)
        session.serveOpened_ = true;
    const bool reused = item->Earlier >= 0;
    const zip_int64_t result = reused              ? session.HandleReused(*item, data, len, cmd)
                               : session.pipeline_ ? session.HandlePiped(*item, data, len, cmd)
                                                   : session.HandleSource(*item, data, len, cmd);
    if (cmd == ZIP_SOURCE_STAT && session.serveOpened_) {
        // Its last stat (libzip asks for it after a failed open too): the next item.
        ++session.serveAt_;
        if (!reused) // reused files never pass through the pipeline
            ++session.serveSlot_;
        session.serveOpened_ = false;
    }
    return result;
}

TAddItem* TAddSession::Serving()
{
    while (serveAt_ < byIndex_.size() && byIndex_[serveAt_] == nullptr)
        ++serveAt_;
    return serveAt_ < byIndex_.size() ? byIndex_[serveAt_] : nullptr;
}

void TAddSession::Report(TAddItem& item, std::uint64_t done)
{
    currentReported_ = done;
    if (pending_ || !progress_)
        return;
    // libzip is C: nothing may unwind through it. Keep the exception and fail the
    // read; Commit throws it again once libzip has cleaned up.
    try {
        progress_(item, currentName_, done);
    } catch (...) {
        pending_ = std::current_exception();
    }
}

zip_int64_t TAddSession::Opened(TAddItem& item)
{
    currentDone_ = 0;
    currentFinished_ = false;
    Report(item, 0);
    return Cancelled() ? -1 : 0;
}

zip_int64_t TAddSession::AfterRead(TAddItem& item, std::int64_t n, int error, std::uint64_t done)
{
    if (n < 0) {
        zip_error_set(&error_, ZIP_ER_READ, error);
        failedItem_ = &item;
        return -1;
    }
    if (n == 0) {
        if (!currentFinished_) {
            currentFinished_ = true;
            if (item.Size > 0)
                Report(item, item.Size);
        }
    } else {
        currentDone_ = done;
        if (currentDone_ < item.Size && currentDone_ - currentReported_ >= ProgressStep)
            Report(item, currentDone_);
    }
    if (Cancelled())
        return -1;
    return n;
}

zip_int64_t TAddSession::HandleSource(TAddItem& item, void* data, zip_uint64_t len,
                                      zip_source_cmd_t cmd)
{
    switch (cmd) {
    case ZIP_SOURCE_OPEN: {
        if (currentFd_ >= 0)
            ::close(currentFd_);
        currentName_ = EntryName(item);
        // The file was a regular one when collected; what is there now may be a pipe
        // (a read would block for ever) or a link to a device (a read would not end).
        currentFd_ = ::open(PathOf(item, currentName_).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat st {};
        if (currentFd_ >= 0 && (::fstat(currentFd_, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(currentFd_);
            currentFd_ = -1;
            errno = EINVAL;
        }
        if (currentFd_ < 0) {
            zip_error_set(&error_, ZIP_ER_OPEN, errno);
            failedItem_ = &item;
            return -1;
        }
        return Opened(item);
    }
    case ZIP_SOURCE_READ: {
        if (Cancelled())
            return -1;
        ssize_t n;
        do
            n = ::read(currentFd_, data, len);
        while (n < 0 && errno == EINTR);
        return AfterRead(item, n, errno, currentDone_ + static_cast<std::uint64_t>(n > 0 ? n : 0));
    }
    case ZIP_SOURCE_CLOSE:
        if (currentFd_ >= 0) {
            ::close(currentFd_);
            currentFd_ = -1;
        }
        return 0;
    case ZIP_SOURCE_STAT: {
        auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &error_);
        if (st == nullptr)
            return -1;
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE;
        st->size = item.Size;
        return sizeof(*st);
    }
    default:
        zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

void TAddSession::StartPipeline()
{
    std::size_t count = 0;
    for (const TAddItem* item : byIndex_)
        count += item != nullptr && item->Earlier < 0 ? 1 : 0;
    pipedItem_ = nullptr;
    // As many workers as cores; capped, because each keeps blocks in flight.
    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, 16u);
    pipeline_ = std::make_unique<TDeflatePipeline>(count, level_, workers, password_);
    feedAt_ = 0;
    FeedPipeline(pipeline_->Lookahead());
}

void TAddSession::FeedPipeline(std::size_t slots)
{
    // libzip writes the entries in index order; the pipeline reads the files in that order.
    while (pipeline_->Given() < slots && feedAt_ < byIndex_.size()) {
        const TAddItem* item = byIndex_[feedAt_++];
        if (item == nullptr || item->Earlier >= 0)
            continue;
        TDeflatePipeline::TFile file;
        file.Path = PathOf(*item, EntryName(*item));
        file.Size = item->Size;
        // An entry that replaces an earlier one cannot be switched to stored during the
        // write (libzip would drop the change), so it is always deflated.
        file.Mode = item->StoredByName ? TDeflatePipeline::TMode::Store
                    : item->Replaces   ? TDeflatePipeline::TMode::Deflate
                                       : TDeflatePipeline::TMode::Decide;
        pipeline_->Give(std::move(file));
    }
}

bool TAddSession::BeginPiped(TAddItem& item)
{
    if (pipedItem_ == &item)
        return true;
    pipedItem_ = &item;
    currentFinished_ = false;
    FeedPipeline(serveSlot_ + 1 + pipeline_->Lookahead());
    const TDeflatePipeline::TStart start = pipeline_->Start(serveSlot_);
    if (start.Error != 0) {
        zip_error_set(&error_, ZIP_ER_OPEN, start.Error);
        failedItem_ = &item;
        return false;
    }
    pipedStored_ = start.Stored;
    // Its first block did not shrink. The entry must say so before libzip reads its
    // stat: data reported as stored under a deflating entry would be deflated again.
    // Safe here because the entry is new to this archive (libzip edits it in place).
    if (pipedStored_ && !item.StoredByName &&
        zip_set_file_compression(archive_.get(), static_cast<zip_uint64_t>(item.Index),
                                 ZIP_CM_STORE, 0) != 0) {
        zip_error_set(&error_, ZIP_ER_INTERNAL, 0);
        return false;
    }
    return true;
}

zip_int64_t TAddSession::HandlePiped(TAddItem& item, void* data, zip_uint64_t len,
                                     zip_source_cmd_t cmd)
{
    switch (cmd) {
    case ZIP_SOURCE_STAT: {
        auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &error_);
        if (st == nullptr || !BeginPiped(item))
            return -1;
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE;
        st->size = item.Size;
        if (!pipedStored_) {
            // Deflated already: libzip copies it as it is.
            st->valid |= ZIP_STAT_COMP_METHOD;
            st->comp_method = ZIP_CM_DEFLATE;
        }
        if (pipeline_->Encrypting()) {
            st->valid |= ZIP_STAT_ENCRYPTION_METHOD;
            st->encryption_method = ZIP_EM_AES_256;
        }
        if (currentFinished_ && !pipedStored_) { // libzip sums stored data itself
            st->valid |= ZIP_STAT_CRC;
            st->crc = pipeline_->Crc();
            st->size = pipeline_->RawSize();
        }
        return sizeof(*st);
    }
    case ZIP_SOURCE_OPEN:
        if (!BeginPiped(item))
            return -1;
        currentName_ = EntryName(item);
        return Opened(item);
    case ZIP_SOURCE_READ: {
        if (Cancelled())
            return -1;
        std::uint64_t rawDone = currentDone_;
        int error = 0;
        const std::int64_t n = pipeline_->Read(data, static_cast<std::size_t>(len), rawDone, error);
        return AfterRead(item, n, error, rawDone);
    }
    case ZIP_SOURCE_CLOSE:
        return 0;
    default:
        return HandleSource(item, data, len, cmd);
    }
}

bool TAddSession::OpenEarlier()
{
    struct stat st {};
    if (::stat(earlierPath_.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    int error = 0;
    earlier_.reset(OpenArchiveFile(earlierPath_, ZIP_RDONLY, &error));
    if (!earlier_ || password_.empty())
        return static_cast<bool>(earlier_);
    // Entries another password encrypted would be copied into an archive that this
    // password does not open: the verifier of one entry tells, as a reader checks it.
    const zip_int64_t count = zip_get_num_entries(earlier_.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t entry;
        if (zip_stat_index(earlier_.get(), static_cast<zip_uint64_t>(i), 0, &entry) != 0 ||
            (entry.valid & ZIP_STAT_ENCRYPTION_METHOD) == 0 ||
            entry.encryption_method != ZIP_EM_AES_256)
            continue;
        const TZipFilePtr file(zip_fopen_index_encrypted(
            earlier_.get(), static_cast<zip_uint64_t>(i), 0, password_.c_str()));
        if (file)
            return true;
        break;
    }
    earlier_.reset();
    return false;
}

bool TAddSession::MayBeSame(const TAddItem& item, const zip_stat_t& earlier)
{
    constexpr zip_uint64_t needed = ZIP_STAT_SIZE | ZIP_STAT_CRC | ZIP_STAT_MTIME |
                                    ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD;
    const zip_uint16_t encryption = password_.empty() ? ZIP_EM_NONE : ZIP_EM_AES_256;
    // An encrypted entry under 20 bytes keeps no CRC.
    if ((earlier.valid & needed) != needed || earlier.size != item.Size ||
        (earlier.comp_method != ZIP_CM_DEFLATE && earlier.comp_method != ZIP_CM_STORE) ||
        earlier.encryption_method != encryption || (encryption != ZIP_EM_NONE && item.Size < 20))
        return false;
    zip_stat_t now;
    return zip_stat_index(archive_.get(), static_cast<zip_uint64_t>(item.Index), 0, &now) == 0 &&
           (now.valid & ZIP_STAT_MTIME) != 0 && DosTime(now.mtime) == earlier.mtime;
}

namespace {

// Size and time say nothing of a file rewritten within the same two seconds: the CRC
// of what is there now decides.
bool SameContent(const std::string& path, std::uint64_t size, std::uint32_t crc,
                 std::vector<char>& buffer, const std::atomic<bool>& stop)
{
    TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    buffer.resize(ProgressStep);
    std::uint32_t sum = 0;
    std::uint64_t done = 0;
    while (!stop) {
        const ssize_t n = ::read(fd.Get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return done == size && sum == crc;
        sum = libdeflate_crc32(sum, buffer.data(), static_cast<std::size_t>(n));
        done += static_cast<std::uint64_t>(n);
    }
    return false;
}

} // namespace

std::vector<TAddSession::TReuseCandidate> TAddSession::ReuseCandidates()
{
    std::vector<TReuseCandidate> candidates;
    for (TAddItem* item : byIndex_) {
        if (item == nullptr)
            continue;
        const std::string name = EntryName(*item);
        const zip_int64_t at = zip_name_locate(earlier_.get(), name.c_str(), ZIP_FL_ENC_RAW);
        zip_stat_t entry;
        if (at >= 0 &&
            zip_stat_index(earlier_.get(), static_cast<zip_uint64_t>(at), 0, &entry) == 0 &&
            MayBeSame(*item, entry))
            candidates.push_back(
                {item, at, entry.crc, entry.comp_method == ZIP_CM_STORE, PathOf(*item, name)});
    }
    return candidates;
}

std::vector<char> TAddSession::CompareWithEarlier(const std::vector<TReuseCandidate>& candidates)
{
    // The files are read and summed on the workers; the bar moves here for each file
    // found unchanged.
    std::vector<char> same(candidates.size(), 0);
    std::mutex mutex;
    std::vector<std::size_t> finished;
    std::atomic<std::size_t> latest{candidates.size()}; // the file a worker took last
    const auto reportFinished = [&] {
        std::vector<std::size_t> now;
        {
            std::lock_guard lock(mutex);
            now.swap(finished);
        }
        if (now.empty() && latest < candidates.size()) {
            // A large file takes a while: show its name, and keep the window alive.
            TAddItem& item = *candidates[latest].Item;
            currentName_ = EntryName(item);
            Report(item, 0);
        }
        for (const std::size_t i : now) {
            TAddItem& item = *candidates[i].Item;
            currentName_ = EntryName(item);
            Report(item, 0);
            Report(item, item.Size);
            item.Counted = true;
        }
    };
    TWorkerPool pool;
    pool.Run(
        candidates.size(), 0,
        [&](std::size_t i, std::vector<char>& buffer) {
            const TReuseCandidate& c = candidates[i];
            latest = i;
            if (!SameContent(c.Path, c.Item->Size, c.Crc, buffer, pool.StopFlag()))
                return;
            same[i] = 1;
            std::lock_guard lock(mutex);
            finished.push_back(i);
            pool.Tick();
        },
        [&] {
            reportFinished();
            if (pending_)
                pool.Stop();
        },
        std::chrono::milliseconds(50));
    reportFinished();
    return same;
}

void TAddSession::MatchEarlierEntries()
{
    if (earlierPath_.empty() || !piped_ || archiveExists_ || !OpenEarlier())
        return;
    const std::vector<TReuseCandidate> candidates = ReuseCandidates();
    const std::vector<char> same = CompareWithEarlier(candidates);
    if (pending_)
        return;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const TReuseCandidate& c = candidates[i];
        // A stored entry is copied too: that spares the trial deflate of a file that
        // does not shrink. The new entry must then say stored as well.
        if (same[i] != 0 &&
            (!c.Stored ||
             zip_set_file_compression(archive_.get(), static_cast<zip_uint64_t>(c.Item->Index),
                                      ZIP_CM_STORE, 0) == 0)) {
            c.Item->Earlier = c.At;
            ++reused_;
        }
    }
}

void TAddSession::ForgetEarlier()
{
    zip_error_fini(&error_);
    zip_error_init(&error_);
    for (TAddItem& item : items_) {
        if (item.Earlier >= 0 && item.Index >= 0)
            SetCompression(item); // what a reused stored entry changed
        item.Earlier = -1;
        item.Counted = false;
    }
    reused_ = 0;
    reusedSource_.reset();
    earlier_.reset();
}

zip_int64_t TAddSession::HandleReused(TAddItem& item, void* data, zip_uint64_t len,
                                      zip_source_cmd_t cmd)
{
    const auto failed = [&](zip_source_t* from) -> zip_int64_t {
        if (from != nullptr)
            zip_error_set(&error_, zip_error_code_zip(zip_source_error(from)),
                          zip_error_code_system(zip_source_error(from)));
        else
            zip_error_set(&error_, zip_error_code_zip(zip_get_error(archive_.get())), 0);
        reuseFailed_ = true;
        return -1;
    };
    switch (cmd) {
    case ZIP_SOURCE_STAT: {
        auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &error_);
        if (st == nullptr)
            return -1;
        if (!reusedSource_) {
            // The entry's bytes as the earlier archive holds them: deflated, and
            // encrypted with its own salt when there is a password.
            reusedSource_.reset(zip_source_zip(
                archive_.get(), earlier_.get(), static_cast<zip_uint64_t>(item.Earlier),
                password_.empty() ? ZIP_FL_COMPRESSED : ZIP_FL_ENCRYPTED, 0, 0));
            if (!reusedSource_)
                return failed(nullptr);
        }
        if (zip_source_stat(reusedSource_.get(), st) != 0)
            return failed(reusedSource_.get());
        reusedCompSize_ = (st->valid & ZIP_STAT_COMP_SIZE) != 0 ? st->comp_size : 0;
        if (serveOpened_)
            reusedSource_.reset(); // its last stat
        return sizeof(*st);
    }
    case ZIP_SOURCE_OPEN:
        if (!reusedSource_ || zip_source_open(reusedSource_.get()) != 0)
            return failed(reusedSource_.get());
        currentName_ = EntryName(item);
        reusedCopied_ = 0;
        return Opened(item);
    case ZIP_SOURCE_READ: {
        if (Cancelled())
            return -1;
        const zip_int64_t n = zip_source_read(reusedSource_.get(), data, len);
        if (n < 0)
            return failed(reusedSource_.get());
        // Progress in the file's bytes: the copied share of the stored ones.
        reusedCopied_ += static_cast<std::uint64_t>(n);
        const std::uint64_t done =
            reusedCompSize_ == 0
                ? 0
                : static_cast<std::uint64_t>(static_cast<long double>(reusedCopied_) /
                                             static_cast<long double>(reusedCompSize_) *
                                             static_cast<long double>(item.Size));
        return AfterRead(item, n, 0, std::min(done, item.Size));
    }
    case ZIP_SOURCE_CLOSE:
        if (reusedSource_)
            zip_source_close(reusedSource_.get());
        return 0;
    default:
        zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

bool TAddSession::DropFailedItem()
{
    TAddItem& lost = *failedItem_;
    Problem(EntryName(lost), TArchiveProblemKind::Failed, zip_error_strerror(&error_));
    zip_delete(archive_.get(), static_cast<zip_uint64_t>(lost.Index));
    byIndex_[static_cast<std::size_t>(lost.Index)] = nullptr;
    lost.Index = -1;
    zip_error_fini(&error_);
    zip_error_init(&error_);
    return std::any_of(items_.begin(), items_.end(),
                       [](const TAddItem& item) { return item.Index >= 0; });
}

TAddSession::TResult TAddSession::Commit()
{
    if (!archive_) {
        // Nothing collected (every spec empty or unreadable), or the archive could
        // not be opened for writing at all.
        return errorText_.empty() ? TResult::NothingToWrite : TResult::Failed;
    }
    bool any = false;
    for (const auto& item : items_)
        any = any || item.Index >= 0;
    if (!any) {
        archive_.reset();
        return TResult::NothingToWrite;
    }

    // A file that vanished or became unreadable since it was collected fails the
    // close; drop it and write again rather than lose the whole archive. Bounded,
    // because each retry drops one file (and one more when the earlier backup fails).
    for (std::size_t attempt = 0; attempt <= items_.size() + 1; ++attempt) {
        failedItem_ = nullptr;
        reuseFailed_ = false;
        serveAt_ = serveSlot_ = 0;
        serveOpened_ = false;
        if (OnAttempt)
            OnAttempt();
        if (attempt == 0)
            MatchEarlierEntries();
        else
            for (TAddItem& item : items_)
                item.Counted = false; // the bar starts over
        if (pending_) {
            archive_.reset();
            earlier_.reset();
            std::rethrow_exception(std::exchange(pending_, nullptr));
        }
        if (piped_)
            StartPipeline();
        const int closed = zip_close(archive_.get());
        pipeline_.reset(); // stops the workers, whatever the outcome
        pipedItem_ = nullptr;
        reusedSource_.reset();
        if (closed == 0) {
            archive_.release(); // freed by the successful close
            earlier_.reset();
            // libzip's own file renames without syncing (ours syncs first, and then this
            // costs nothing); a backup is only made once it is on disk, name included.
            FsyncPath(archivePath_, 0);
            const auto slash = archivePath_.rfind('/');
            FsyncPath(slash == std::string::npos ? "." : archivePath_.substr(0, slash + 1),
                      O_DIRECTORY);
            return TResult::Written;
        }
        if (pending_) {
            archive_.reset(); // discard; libzip has removed its temporary file
            std::rethrow_exception(std::exchange(pending_, nullptr));
        }
        if (reuseFailed_) {
            // The earlier backup could not be read after all: everything from the files.
            ForgetEarlier();
            continue;
        }
        if (failedItem_ == nullptr || failedItem_->Index < 0)
            break;
        if (!DropFailedItem()) {
            archive_.reset();
            return TResult::NothingToWrite;
        }
    }
    errorText_ = zip_strerror(archive_.get());
    archive_.reset();
    return TResult::Failed;
}

} // namespace tessarin
