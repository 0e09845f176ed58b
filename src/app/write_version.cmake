# Writes the programs' version file (declared by src/app/version.h) at each build:
#
#   cmake -DSOURCE_DIR=<source folder> -DOUTPUT=<file.cc> -DVERSION=<project version>
#         -P write_version.cmake
#
# The commit is the source folder's HEAD, its first 12 hex digits, when the source folder is the
# top of a git work tree and git is on PATH; otherwise the file holds no commit (a release
# tarball unpacked inside some other repository does not take that repository's commit). The
# file is written only when its text changes, so a build without a new commit compiles and
# links nothing again; it is written beside OUTPUT and renamed over it, so a stopped build never
# leaves half a file.
cmake_minimum_required(VERSION 3.25)  # today's policies for if() and the rest, as the build has

foreach(var SOURCE_DIR OUTPUT VERSION)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "write_version.cmake: -D${var}=... is needed")
  endif()
endforeach()

set(commit "")
find_program(git_program git)
if(git_program)
  # A build run from a git hook or an outer tool must not look at that repository instead.
  unset(ENV{GIT_DIR})
  unset(ENV{GIT_WORK_TREE})
  execute_process(
    COMMAND "${git_program}" rev-parse --show-toplevel HEAD
    WORKING_DIRECTORY "${SOURCE_DIR}"
    RESULT_VARIABLE git_result
    OUTPUT_VARIABLE git_output
    ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(git_result EQUAL 0)
    string(REPLACE "\n" ";" git_lines "${git_output}")
    list(LENGTH git_lines git_line_count)
    if(git_line_count EQUAL 2)
      list(GET git_lines 0 top_level)
      list(GET git_lines 1 head)
      file(REAL_PATH "${top_level}" top_level)
      file(REAL_PATH "${SOURCE_DIR}" source_dir)
      if(top_level STREQUAL source_dir AND head MATCHES "^[0-9a-f]+$")
        string(SUBSTRING "${head}" 0 12 commit)
      endif()
    endif()
  endif()
endif()

set(text "// Written by src/app/write_version.cmake at each build; changes are lost.
#include \"app/version.h\"

namespace quillmere {

const char kVersion[] = \"${VERSION}\";
const char kBuildCommit[] = \"${commit}\";

}  // namespace quillmere
")

set(old_text "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old_text)
endif()
if(NOT old_text STREQUAL text)
  file(WRITE "${OUTPUT}.tmp" "${text}")
  file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
endif()
