#pragma once
// Owning handles for libzip objects. An archive handle is discarded when it goes
// out of scope: writing happens only through an explicit zip_close, after which the
// handle is released (zip_close frees the archive only when it succeeds).

#include <zip.h>

#include <memory>
#include <type_traits>

namespace tessarin {

template <auto Fn> using TDeleterFromFn = std::integral_constant<decltype(Fn), Fn>;
template <typename T, auto Fn> using TUniqueCPtr = std::unique_ptr<T, TDeleterFromFn<Fn>>;

using TZipArchivePtr = TUniqueCPtr<zip_t, zip_discard>;
using TZipFilePtr = TUniqueCPtr<zip_file_t, zip_fclose>;
using TZipSourcePtr = TUniqueCPtr<zip_source_t, zip_source_free>;

} // namespace tessarin
