# One interface target carries the language level, warnings and sanitizer flags;
# every library, executable, test and benchmark links it.
add_library(torvane_common INTERFACE)
target_compile_features(torvane_common INTERFACE cxx_std_20)
# Includes name their layer from the project root: #include "engine/Torvanethread.h".
target_include_directories(torvane_common INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_options(torvane_common INTERFACE -Wall -Wextra)
target_compile_definitions(torvane_common INTERFACE
  QT_NO_KEYWORDS QT_USE_QSTRINGBUILDER QT_NO_CAST_FROM_BYTEARRAY)
if(TORVANE_WERROR)
  target_compile_options(torvane_common INTERFACE -Werror)
endif()
# Optimised builds (the package is made from one) are hardened as Debian builds its
# packages. The sanitizers bring their own checks, and fortified calls need the
# optimiser, so debug and sanitizer builds go without.
if(NOT TORVANE_ASAN AND NOT TORVANE_TSAN)
  set(optimised "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
  target_compile_options(torvane_common INTERFACE
    "$<${optimised}:-fstack-protector-strong;-Wformat;-Werror=format-security>")
  target_compile_definitions(torvane_common INTERFACE "$<${optimised}:_FORTIFY_SOURCE=2>")
  target_link_options(torvane_common INTERFACE "$<${optimised}:LINKER:-z,relro,-z,now>")
endif()
if(TORVANE_ASAN AND TORVANE_TSAN)
  message(FATAL_ERROR "TORVANE_ASAN and TORVANE_TSAN cannot be combined")
endif()
if(TORVANE_ASAN)
  target_compile_options(torvane_common INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(torvane_common INTERFACE -fsanitize=address,undefined)
endif()
if(TORVANE_TSAN)
  target_compile_options(torvane_common INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(torvane_common INTERFACE -fsanitize=thread)
endif()

# torvane_add_test(name SOURCES... LIBS...): one QtTest executable run by CTest,
# offscreen, with its own timeout.
function(torvane_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE torvane_common Qt6::Test ${T_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(env "QT_QPA_PLATFORM=offscreen")
  if(TORVANE_ASAN)
    # The runtime turns core dumps off by default, which would hide what the program
    # itself sets.
    list(APPEND env "ASAN_OPTIONS=disable_coredump=0"
      "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/support/lsan-suppressions.txt")
  endif()
  if(TORVANE_TSAN)
    # Qt's own libraries are not instrumented: their internals are suppressed, and the
    # end-to-end tests start programs from threaded tests. The runtime turns core dumps
    # off by default, which would hide what the program itself sets. Qt converts large
    # images on its own thread pool and orders that with futex code the tool cannot see:
    # memory calls made from inside Qt's uninstrumented libraries are left out, while
    # every access of the program's own code is still checked.
    list(APPEND env "TSAN_OPTIONS=die_after_fork=0 disable_coredump=0 ignore_noninstrumented_modules=1 suppressions=${PROJECT_SOURCE_DIR}/tests/support/tsan-suppressions.txt")
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "${env}"
    LABELS "${T_LABELS}")
endfunction()
