#pragma once
// Owning handles for libzip objects. An archive handle is discarded when it goes
// out of scope: writing happens only through an explicit zip_close, after which the
// handle is released (zip_close frees the archive only when it succeeds).

#include <zip.h>

#include <memory>
#include <string>
#include <type_traits>

namespace tessarin {

template <auto Fn> using TDeleterFromFn = std::integral_constant<decltype(Fn), Fn>;
template <typename T, auto Fn> using TUniqueCPtr = std::unique_ptr<T, TDeleterFromFn<Fn>>;

using TZipArchivePtr = TUniqueCPtr<zip_t, zip_discard>;
using TZipFilePtr = TUniqueCPtr<zip_file_t, zip_fclose>;

// libzip's text for an error code, as zip_open reports one.
inline std::string ZipErrorText(int code)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

} // namespace tessarin
