# Warnings and definitions shared by every target of the project.
add_library(mirova_build_options INTERFACE)
target_compile_options(mirova_build_options INTERFACE
    -Wall -Wextra -Werror -Wnon-virtual-dtor -Wold-style-cast -Wshadow)
target_compile_definitions(mirova_build_options INTERFACE _GLIBCXX_ASSERTIONS _FILE_OFFSET_BITS=64)

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
