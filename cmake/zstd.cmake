# zstd, as two targets:
#   zstd_decoder  decoding only: what the installer's core links
#   zstd_full     compression and decoding: what patchtool links
#
# Natively (and in the fuzz build) both are Debian's libzstd-dev: its binary package carries the
# stable release's security fixes. For mingw-w64 there is no zstd package, so the Windows build
# compiles Debian's source package, pinned in scripts/zstd-source, which scripts/setup.sh fetches
# and unpacks into a cache folder outside the tree. To update the pin, change that file (its
# comment says how) and rerun `bash scripts/setup.sh`; this file reads the version and the cache
# folder from there and nowhere else.

if(NOT WIN32)
  find_path(PI_ZSTD_INCLUDE_DIR zstd.h)
  find_library(PI_ZSTD_LIBRARY NAMES zstd)
  if(NOT PI_ZSTD_INCLUDE_DIR OR NOT PI_ZSTD_LIBRARY)
    message(FATAL_ERROR "zstd (libzstd-dev) was not found: run `bash scripts/setup.sh`")
  endif()
  add_library(zstd_decoder INTERFACE)
  target_include_directories(zstd_decoder SYSTEM INTERFACE ${PI_ZSTD_INCLUDE_DIR})
  target_link_libraries(zstd_decoder INTERFACE ${PI_ZSTD_LIBRARY})
  add_library(zstd_full INTERFACE)
  target_link_libraries(zstd_full INTERFACE zstd_decoder)
  return()
endif()

set(zstd_pin_file ${CMAKE_SOURCE_DIR}/scripts/zstd-source)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${zstd_pin_file})
file(STRINGS ${zstd_pin_file} zstd_pin REGEX "^ZSTD_[A-Z_]+=")
foreach(line IN LISTS zstd_pin)
  string(REGEX MATCH "^([A-Z_]+)=(.*)$" unused "${line}")
  set(${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
endforeach()
if(NOT ZSTD_DEBIAN_VERSION OR NOT ZSTD_CACHE_ROOT)
  message(FATAL_ERROR "${zstd_pin_file} names no ZSTD_DEBIAN_VERSION or ZSTD_CACHE_ROOT")
endif()

# setup.sh writes the stamp last, so a folder that an interrupted run left behind is not used.
set(zstd_source_dir ${ZSTD_CACHE_ROOT}/libzstd-${ZSTD_DEBIAN_VERSION})
set(zstd_unpacked "")
if(EXISTS ${zstd_source_dir}/.complete)
  file(STRINGS ${zstd_source_dir}/.complete zstd_unpacked LIMIT_COUNT 1)
endif()
if(NOT zstd_unpacked STREQUAL ZSTD_DEBIAN_VERSION)
  message(FATAL_ERROR "The Windows build compiles zstd ${ZSTD_DEBIAN_VERSION} from Debian's source package, which is "
                      "not in ${zstd_source_dir}: run `bash scripts/setup.sh` to fetch it.")
endif()
message(STATUS "zstd ${ZSTD_DEBIAN_VERSION} from ${zstd_source_dir}")

set(zstd_lib ${zstd_source_dir}/lib)
# The stated flags replace the project's warnings-as-errors: this is Debian's code, built as zstd's
# own build builds it. No legacy formats (the installer reads only what patchtool writes); the xxHash
# symbols are renamed as zstd's own build renames them, so no other copy of xxHash can clash. zstd
# 1.5.7 calls its amd64 Huffman loop of a .S file on mingw too (1.5.4 did so only on ELF targets)
# unless ZSTD_DISABLE_ASM is set: the build stays C only, with no assembler step for a PE target.
set(zstd_compile_options -O2 -DNDEBUG -DZSTD_LEGACY_SUPPORT=0 -DXXH_NAMESPACE=ZSTD_ -DZSTD_DISABLE_ASM)

add_library(zstd_decoder STATIC
  ${zstd_lib}/common/debug.c
  ${zstd_lib}/common/entropy_common.c
  ${zstd_lib}/common/error_private.c
  ${zstd_lib}/common/fse_decompress.c
  ${zstd_lib}/common/xxhash.c
  ${zstd_lib}/common/zstd_common.c
  ${zstd_lib}/decompress/huf_decompress.c
  ${zstd_lib}/decompress/zstd_ddict.c
  ${zstd_lib}/decompress/zstd_decompress.c
  ${zstd_lib}/decompress/zstd_decompress_block.c)
set_target_properties(zstd_decoder PROPERTIES COMPILE_OPTIONS "${zstd_compile_options}")
target_include_directories(zstd_decoder PRIVATE ${zstd_lib}/common)
target_include_directories(zstd_decoder SYSTEM INTERFACE ${zstd_lib})

# The compressor is added to the decoder rather than built beside a second copy of it, so a program
# that links both never sees a symbol twice. Multithreaded like Debian's library (zstd's own
# Windows threads), so patchtool.exe can compress on every core.
file(GLOB zstd_compress_sources ${zstd_lib}/compress/*.c)
add_library(zstd_full STATIC ${zstd_lib}/common/pool.c ${zstd_lib}/common/threading.c ${zstd_compress_sources})
set_target_properties(zstd_full PROPERTIES COMPILE_OPTIONS "${zstd_compile_options};-DZSTD_MULTITHREAD")
target_include_directories(zstd_full PRIVATE ${zstd_lib}/common)
target_link_libraries(zstd_full PUBLIC zstd_decoder)
