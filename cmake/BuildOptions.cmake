# Warnings and definitions shared by every target of the project.
add_library(mirova_build_options INTERFACE)
target_compile_options(mirova_build_options INTERFACE
    -Wall -Wextra -Wnon-virtual-dtor -Wold-style-cast -Wshadow)
# Warnings stop the project's own checks (scripts/test turns this on), never a user's or a
# packager's build: another compiler or version may warn where these do not.
if(MIROVA_WERROR)
    target_compile_options(mirova_build_options INTERFACE -Werror)
endif()
# One version everywhere: `mirova --version`, --help, the change records, the package and the
# manual page all take the one of project().
target_compile_definitions(mirova_build_options INTERFACE _GLIBCXX_ASSERTIONS _FILE_OFFSET_BITS=64
    MIROVA_VERSION="${PROJECT_VERSION}")

if(MIROVA_SANITIZE STREQUAL "address")
    target_compile_options(mirova_build_options INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(mirova_build_options INTERFACE -fsanitize=address,undefined)
elseif(MIROVA_SANITIZE STREQUAL "thread")
    target_compile_options(mirova_build_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(mirova_build_options INTERFACE -fsanitize=thread)
elseif(MIROVA_SANITIZE)
    message(FATAL_ERROR "MIROVA_SANITIZE must be empty, \"address\" or \"thread\"")
endif()

find_package(Threads REQUIRED)
