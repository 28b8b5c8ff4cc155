# The lint, as tests named lint.*, where QUARN_LINT is on (CI's preset): every
# C and C++ file as .clang-format has it, clang-tidy's checks in .clang-tidy
# on each source, shellcheck on every script and mandoc on the manual page.
# Any finding fails its test.
find_program(QUARN_CLANG_FORMAT NAMES clang-format clang-format-14 REQUIRED)
find_program(QUARN_CLANG_TIDY NAMES clang-tidy clang-tidy-14 REQUIRED)
find_program(QUARN_SHELLCHECK shellcheck REQUIRED)
find_program(QUARN_MANDOC mandoc REQUIRED)

file(GLOB_RECURSE c_and_cxx CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}
  src/*.cpp src/*.h tests/*.cpp tests/*.h tests/*.c bench/*.cpp)
add_test(NAME lint.clang_format COMMAND ${QUARN_CLANG_FORMAT} --dry-run --Werror ${c_and_cxx}
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})

# Each source that this build compiles, so that its flags are known.
file(GLOB_RECURSE sources CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR} src/*.cpp tests/*.cpp)
list(FILTER sources EXCLUDE REGEX "^tests/consumers/")
if(QUARN_BUILD_BENCHMARKS)
  list(APPEND sources bench/extension_query_bench.cpp)
endif()
foreach(source IN LISTS sources)
  string(MAKE_C_IDENTIFIER ${source} name)
  add_test(NAME lint.clang_tidy.${name}
    COMMAND ${QUARN_CLANG_TIDY} -p ${PROJECT_BINARY_DIR} --quiet ${source}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
  set_tests_properties(lint.clang_tidy.${name} PROPERTIES TIMEOUT 300)
endforeach()

file(GLOB scripts CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR} scripts/* tests/*.sh
  debian/tests/consumers debian/tests/tools)
add_test(NAME lint.shellcheck COMMAND ${QUARN_SHELLCHECK} -x ${scripts} .ci/run
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
add_test(NAME lint.mandoc COMMAND ${QUARN_MANDOC} -T lint -W style ${PROJECT_BINARY_DIR}/quarn.1
  ${PROJECT_BINARY_DIR}/quarn-egl.1)
set_tests_properties(lint.mandoc lint.shellcheck lint.clang_format PROPERTIES TIMEOUT 120)
