# SPDX-License-Identifier: BSD-2-Clause
# What the recipes say of the sources must stay true of them:
#   cmake -DTOP=<source tree> -P tests/packaging.cmake
# one version, the CMake minimum and Buildroot's host-cmake select, the
# minimums README.md names, the licence files' hashes, and every source
# file's SPDX line.
set(br ${TOP}/packaging/buildroot/package/vok-eth)
set(failures "")
macro(expect got want what)
  if(NOT "${got}" STREQUAL "${want}")
    string(APPEND failures "  ${what}\n")
  endif()
endmacro()

file(READ ${TOP}/CMakeLists.txt top)
string(REGEX MATCH "project\\(vok_eth VERSION ([0-9.]+)" _ "${top}")
set(version ${CMAKE_MATCH_1})
file(READ ${br}/vok-eth.mk mk)
string(REGEX MATCH "VOK_ETH_VERSION = ([^\n]*)" _ "${mk}")
expect("${CMAKE_MATCH_1}" "${version}" "Buildroot's version ${CMAKE_MATCH_1} is not ${version}")
file(READ ${TOP}/packaging/openwrt/vok_eth/Makefile wrt)
string(REGEX MATCH "PKG_VERSION:=([^\n]*)" _ "${wrt}")
expect("${CMAKE_MATCH_1}" "${version}" "OpenWrt's version ${CMAKE_MATCH_1} is not ${version}")

string(REGEX MATCH "cmake_minimum_required\\(VERSION ([0-9]+\\.[0-9]+)" _ "${top}")
set(min ${CMAKE_MATCH_1})
# README.md names the minimums, of what ships and of the tests.
file(READ ${TOP}/README.md readme)
string(REGEX MATCH "CMake ([0-9.]+) and a C\\+\\+ compiler" _ "${readme}")
expect("${CMAKE_MATCH_1}" "${min}" "README.md says CMake '${CMAKE_MATCH_1}' builds what ships, not ${min}")
file(READ ${TOP}/tests/CMakeLists.txt tests)
string(REGEX MATCH "cmake_minimum_required\\(VERSION ([0-9.]+)" _ "${tests}")
set(tests_min ${CMAKE_MATCH_1})
string(REGEX MATCH "a C compiler and CMake ([0-9.]+)" _ "${readme}")
expect("${CMAKE_MATCH_1}" "${tests_min}" "README.md says the tests need CMake '${CMAKE_MATCH_1}', not ${tests_min}")

# Buildroot uses the host's cmake from 3.18 on; past that the package must
# ask for its own.
set(want "")
if(NOT min VERSION_LESS_EQUAL 3.18)
  string(REPLACE "." "_" want "${min}")
endif()
file(READ ${br}/Config.in config)
string(REGEX MATCH "select BR2_HOST_CMAKE_AT_LEAST_([0-9_]+)" _ "${config}")
expect("${CMAKE_MATCH_1}" "${want}" "Buildroot selects host cmake '${CMAKE_MATCH_1}', wanted '${want}'")

# legal-info wants a hash for each licence file the recipe names.
string(REGEX MATCH "VOK_ETH_LICENSE_FILES = ([^\n]*)" _ "${mk}")
string(REPLACE " " ";" named "${CMAKE_MATCH_1}")
file(STRINGS ${br}/vok-eth.hash hashes REGEX "^sha256 ")
foreach(name IN LISTS named)
  string(REGEX MATCH "  ${name}(;|$)" hashed "${hashes}")
  if(NOT hashed)
    string(APPEND failures "  vok-eth.hash: no hash for ${name}\n")
  endif()
endforeach()
foreach(line IN LISTS hashes)
  string(REGEX REPLACE "^sha256  ([0-9a-f]+)  (.*)$" "\\1;\\2" pair "${line}")
  list(GET pair 0 hash)
  list(GET pair 1 name)
  file(SHA256 ${TOP}/${name} got)
  expect("${got}" "${hash}" "vok-eth.hash: ${name} has changed")
endforeach()

# Each source file's licence, by where it lives: the first match wins.
set(licences
  "switchsim/kernel/=GPL-2.0-only"
  "switchsim/model/=GPL-2.0-only OR BSD-2-Clause"
  "=BSD-2-Clause")
# Plain GLOB here: a recursive one would also match the build tree's files.
file(GLOB sources RELATIVE ${TOP}
  ${TOP}/CMakeLists.txt ${TOP}/.ci/run ${TOP}/scripts/router/init
  ${TOP}/packaging/openwrt/*/Makefile ${TOP}/switchsim/kernel/Kbuild)
foreach(dir tools cmake switchsim tests scripts bench)
  file(GLOB_RECURSE more RELATIVE ${TOP} ${TOP}/${dir}/*.c ${TOP}/${dir}/*.h
    ${TOP}/${dir}/*.cpp ${TOP}/${dir}/*.sh ${TOP}/${dir}/*.cmake ${TOP}/${dir}/*.[18]
    ${TOP}/${dir}/CMakeLists.txt)
  list(APPEND sources ${more})
endforeach()
foreach(file IN LISTS sources)
  foreach(row IN LISTS licences)
    string(REGEX REPLACE "=.*" "" prefix "${row}")
    string(REGEX REPLACE "^[^=]*=" "" licence "${row}")
    string(FIND "${file}" "${prefix}" at)
    if(at EQUAL 0)
      break()
    endif()
  endforeach()
  file(STRINGS ${TOP}/${file} head LIMIT_COUNT 2)
  string(REGEX MATCH "SPDX-License-Identifier: ${licence}( \\*/)?(;|$)" ok "${head}")
  if(NOT ok)
    string(APPEND failures "  ${file}: no SPDX line for ${licence} in its first two lines\n")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "packaging:\n${failures}")
endif()
list(LENGTH sources n)
message(STATUS "packaging: version ${version}, ${n} source files licensed")
