# Project-wide warning and sanitizer flags, applied to every target through an interface library.
add_library(morvex_options INTERFACE)
target_compile_options(morvex_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow
                                                -Wconversion -Wno-sign-conversion)
if(MORVEX_WERROR)
    target_compile_options(morvex_options INTERFACE -Werror)
endif()
if(MORVEX_SANITIZE)
    set(MORVEX_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
                               -fno-omit-frame-pointer)
    target_compile_options(morvex_options INTERFACE ${MORVEX_SANITIZER_FLAGS})
    target_link_options(morvex_options INTERFACE ${MORVEX_SANITIZER_FLAGS})
endif()
# The engine writes its outputs on a thread of its own.
option(MORVEX_SANITIZE_THREAD "Build with ThreadSanitizer" OFF)
if(MORVEX_SANITIZE_THREAD)
    if(MORVEX_SANITIZE)
        message(FATAL_ERROR "ThreadSanitizer and AddressSanitizer cannot share a build")
    endif()
    set(MORVEX_TSAN_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
    target_compile_options(morvex_options INTERFACE ${MORVEX_TSAN_FLAGS})
    target_link_options(morvex_options INTERFACE ${MORVEX_TSAN_FLAGS})
endif()
