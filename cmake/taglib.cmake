# TagLib, the tag reader the cover art comes from: a static library built from the source tools/prerequisites
# fetches, with the same cross compiler. Its warnings are its own, and not shown: the strict flags are only on ours.
set(TAGLIB_SOURCE_DIR ${PROJECT_SOURCE_DIR}/build/taglib-1.13/source CACHE PATH
    "TagLib's source, fetched by tools/prerequisites")
# The release archive's test builds a release beside the tests' build: it takes the TagLib that build made, with the
# same compiler and flags, rather than compile it again.
set(TAGLIB_INSTALL_DIR "" CACHE PATH "A TagLib built by this project's build of it; empty: build it here")
if(NOT EXISTS ${TAGLIB_SOURCE_DIR}/.fetched)
    message(FATAL_ERROR "TagLib's source is not in ${TAGLIB_SOURCE_DIR}: tools/prerequisites fetches it")
endif()
file(STRINGS ${TAGLIB_SOURCE_DIR}/.fetched TAGLIB_SOURCE_PACKAGE LIMIT_COUNT 1)

if(TAGLIB_INSTALL_DIR)
    add_library(taglib STATIC IMPORTED GLOBAL)
    set_target_properties(taglib PROPERTIES
        IMPORTED_LOCATION ${TAGLIB_INSTALL_DIR}/lib/libtag.a
        INTERFACE_INCLUDE_DIRECTORIES ${TAGLIB_INSTALL_DIR}/include
        INTERFACE_COMPILE_DEFINITIONS TAGLIB_STATIC)
    return()
endif()

include(ExternalProject)
set(taglib_install ${PROJECT_BINARY_DIR}/taglib)
# Small rather than fast: it reads one picture per track. Sections apart, so that the DLL keeps only what it calls.
ExternalProject_Add(taglib_build
    SOURCE_DIR ${TAGLIB_SOURCE_DIR}
    BINARY_DIR ${PROJECT_BINARY_DIR}/taglib-build
    INSTALL_DIR ${taglib_install}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=MinSizeRel
               -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR> -DCMAKE_CXX_FLAGS=-ffunction-sections\ -fdata-sections\ -w
               -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_BINDINGS=OFF -DWITH_ZLIB=OFF
    BUILD_BYPRODUCTS ${taglib_install}/lib/libtag.a
    UPDATE_COMMAND ""
)
file(MAKE_DIRECTORY ${taglib_install}/include)
add_library(taglib STATIC IMPORTED GLOBAL)
set_target_properties(taglib PROPERTIES
    IMPORTED_LOCATION ${taglib_install}/lib/libtag.a
    INTERFACE_INCLUDE_DIRECTORIES ${taglib_install}/include
    INTERFACE_COMPILE_DEFINITIONS TAGLIB_STATIC)
add_dependencies(taglib taglib_build)
