# Static analysis of the tool and the simulated switch, a lint of the manual
# page, and the install layout, run as tests.
find_program(CLANG_TIDY clang-tidy REQUIRED)
find_program(CPPCHECK cppcheck REQUIRED)
find_program(MANDOC mandoc REQUIRED)

set(lint_sources
  tools/vok_eth.cpp
  switchsim/simstate.cpp
  switchsim/preload.cpp
  switchsim/ethreg.cpp
  switchsim/switchsim.cpp)

add_test(NAME lint.clang-tidy
  COMMAND ${CLANG_TIDY} -p ${CMAKE_BINARY_DIR} --quiet ${lint_sources}
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
add_test(NAME lint.cppcheck
  COMMAND ${CPPCHECK} --std=c++17 --enable=warning,performance,portability
          --error-exitcode=1 --inline-suppr --quiet -I switchsim tools switchsim
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
add_test(NAME lint.manpage
  COMMAND ${MANDOC} -T lint -W warning tools/vok_eth.8
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})

# What a router image gets: the tool and its page, and no simulated switch.
set(stage ${CMAKE_BINARY_DIR}/install-check)
add_test(NAME install.layout
  COMMAND sh -c "rm -rf '${stage}' && DESTDIR='${stage}' '${CMAKE_COMMAND}' --install '${CMAKE_BINARY_DIR}' --prefix /usr >/dev/null && cd '${stage}' && got=$(find . -type f | sort | paste -sd ' ') && echo \"$got\" && test \"$got\" = './usr/sbin/vok_eth ./usr/share/man/man8/vok_eth.8'")
