# One interface target that every library, tool and test links: language level,
# warnings and sanitizers are decided here and nowhere else.
add_library(calmcove_compile_settings INTERFACE)
target_compile_features(calmcove_compile_settings INTERFACE cxx_std_20)
target_compile_options(calmcove_compile_settings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
  -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough -Wformat=2)
target_compile_definitions(calmcove_compile_settings INTERFACE
  QT_NO_URL_CAST_FROM_STRING QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_DISABLE_DEPRECATED_UP_TO=0x060400)
if(CALMCOVE_WARNINGS_AS_ERRORS)
  target_compile_options(calmcove_compile_settings INTERFACE -Werror)
endif()
if(CALMCOVE_SANITIZE)
  # GCC 12 reports uninitialised members inside std::variant moves once ASan instruments
  # them; those reports are false, and only in this build.
  target_compile_options(calmcove_compile_settings INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined
    -Wno-maybe-uninitialized)
  target_link_options(calmcove_compile_settings INTERFACE -fsanitize=address,undefined)
endif()
if(CALMCOVE_FUZZ)
  # Sanitizers everywhere, libFuzzer's coverage only where the allowlist says (clang 14
  # cannot instrument coroutines for it); the fuzz targets add the fuzzer's main. Nor can
  # clang 14 emit the function-type check's prologue data for a coroutine split into
  # several sections, so that one check of UBSan stays off.
  target_compile_options(calmcove_compile_settings INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined -fno-sanitize=function
    -fsanitize-coverage-allowlist=${CMAKE_SOURCE_DIR}/fuzz/coverage-allowlist.txt)
  target_link_options(calmcove_compile_settings INTERFACE -fsanitize=address,undefined)
endif()
