# One INTERFACE target carries the language standard, the warnings and the defines that every
# target of the project links.
add_library(dittix_options INTERFACE)
target_compile_features(dittix_options INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)

if(MSVC)
    target_compile_options(dittix_options INTERFACE /W4 /permissive- /utf-8)
    if(DITTIX_WERROR)
        target_compile_options(dittix_options INTERFACE /WX)
    endif()
    target_compile_definitions(dittix_options INTERFACE NOMINMAX WIN32_LEAN_AND_MEAN)
else()
    target_compile_options(dittix_options INTERFACE -Wall -Wextra -Wpedantic)
    if(DITTIX_WERROR)
        target_compile_options(dittix_options INTERFACE -Werror)
    endif()
endif()

if(DITTIX_SANITIZE)
    if(MSVC)
        message(FATAL_ERROR "DITTIX_SANITIZE is supported with GCC and Clang only")
    endif()
    target_compile_options(dittix_options INTERFACE
        -fsanitize=${DITTIX_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(dittix_options INTERFACE -fsanitize=${DITTIX_SANITIZE})
endif()
