# zelbridge_add_fuzzer(<name> SOURCES <sources> [LIBRARIES <targets>] [INCLUDES <dirs>]
#   [DEPENDS <targets>] [ENVIRONMENT <NAME=value>...] [CORPUS <corpus name>])
# A libFuzzer program fuzz_<name>, and a test (label "fuzz") that runs it for
# ZELBRIDGE_FUZZ_SECONDS over the seed corpus fuzz/corpus/<name> (or the
# one of CORPUS, shared with another fuzzer), keeping
# what it learns in the build tree. Any finding fails the test and leaves the
# input that caused it in the build tree.
set(ZELBRIDGE_FUZZ_SECONDS 20 CACHE STRING "How long the test command runs each fuzzer")
if(NOT TARGET fuzzers)
  add_custom_target(fuzzers)
endif()

function(zelbridge_add_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;LIBRARIES;INCLUDES;DEPENDS;ENVIRONMENT" ${ARGN})
  if(NOT ARG_CORPUS)
    set(ARG_CORPUS ${name})
  endif()
  set(target fuzz_${name})
  add_executable(${target} ${ARG_SOURCES})
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${target} PRIVATE ${ARG_LIBRARIES})
  target_include_directories(${target} PRIVATE ${ARG_INCLUDES})
  add_dependencies(fuzzers ${target})
  if(ARG_DEPENDS)
    add_dependencies(${target} ${ARG_DEPENDS})
  endif()
  set(corpus ${PROJECT_SOURCE_DIR}/fuzz/corpus/${ARG_CORPUS})
  set(work ${CMAKE_BINARY_DIR}/fuzz/${name})
  add_test(NAME Fuzz.${name}
    COMMAND bash -c "mkdir -p corpus && exec \"$0\" -max_total_time=${ZELBRIDGE_FUZZ_SECONDS} -timeout=10 -print_final_stats=1 corpus \"$1\""
            $<TARGET_FILE:${target}> ${corpus}
    WORKING_DIRECTORY ${work})
  file(MAKE_DIRECTORY ${work})
  set_tests_properties(Fuzz.${name} PROPERTIES LABELS fuzz ENVIRONMENT "${ARG_ENVIRONMENT}")
endfunction()
