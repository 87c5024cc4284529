# SPDX-License-Identifier: BSD-2-Clause
# Static analysis of the tool and the simulated switch, a lint of the manual
# pages, and the install layout, run as tests. Each checker is optional here:
# scripts/test.sh installs them all.
find_program(CLANG_TIDY clang-tidy)
find_program(CPPCHECK cppcheck)
find_program(MANDOC mandoc)
foreach(tool CLANG_TIDY CPPCHECK MANDOC)
  if(NOT ${tool})
    message(STATUS "${tool}: not found, its check is left out (scripts/deps.sh test installs it)")
  endif()
endforeach()

set(lint_sources
  tools/vok_eth.cpp
  switchsim/model/swmodel.c
  switchsim/simstate.cpp
  switchsim/preload.cpp
  switchsim/switchsim.cpp)

if(CLANG_TIDY)
  add_test(NAME lint.clang-tidy
    COMMAND ${CLANG_TIDY} -p ${CMAKE_BINARY_DIR} --quiet ${lint_sources}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
endif()
if(CPPCHECK)
  add_test(NAME lint.cppcheck
    COMMAND ${CPPCHECK} --std=c++17 --enable=warning,performance,portability
            --error-exitcode=1 --inline-suppr --quiet -I switchsim tools switchsim
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
endif()
if(MANDOC)
  add_test(NAME lint.manpage
    COMMAND ${MANDOC} -T lint -W warning tools/vok_eth.8 switchsim/switchsim.1
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
endif()

# What a router image gets: the tool and its page, and no simulated switch;
# the simulated switch, asked for, under libexec/, and its page.
set(layout_default "./usr/sbin/vok_eth ./usr/share/man/man8/vok_eth.8")
set(layout_switchsim "./usr/libexec/switchsim/ethreg ./usr/libexec/switchsim/libswitchsim.so")
string(APPEND layout_switchsim " ./usr/libexec/switchsim/switchsim ./usr/share/man/man1/switchsim.1")
set(component_switchsim "--component switchsim")
foreach(what default switchsim)
  set(stage ${CMAKE_BINARY_DIR}/install-check-${what})
  add_test(NAME install.layout.${what}
    COMMAND sh -c "rm -rf '${stage}' && DESTDIR='${stage}' '${CMAKE_COMMAND}' --install '${CMAKE_BINARY_DIR}' --prefix /usr ${component_${what}} >/dev/null && cd '${stage}' && got=$(find . -type f | sort | paste -sd ' ') && echo \"$got\" && test \"$got\" = '${layout_${what}}'")
endforeach()
