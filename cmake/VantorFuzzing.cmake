# vantor_add_fuzzer(NAME name SOURCE file [LIBS targets...] [INCLUDES dirs...]
#                   [DEFINES name=value...] [CORPUS folder] [SECONDS n] [MAX_LEN bytes])
# A libFuzzer target with AddressSanitizer and UndefinedBehaviorSanitizer.
# libFuzzer comes with clang, while the project builds with gcc, so the
# fuzzer is compiled by clang++ directly from its own source and from the
# sources of the static libraries it names (and those they use, followed
# through their link libraries). Without clang++ nothing is built.
#
# The committed seeds sit in `corpus/` (or CORPUS) beside the source. CTest's `fuzz`
# label runs the target for SECONDS (default 4) on a fresh working corpus
# seeded from them; scripts/fuzz.sh runs every target for longer.
find_program(VANTOR_CLANGXX clang++)
if(NOT VANTOR_CLANGXX)
  message(STATUS "clang++ not found, the fuzz targets are not built")
endif()
set(VANTOR_FUZZ_COMPILER ${VANTOR_CLANGXX})
if(CCACHE_PROGRAM)
  set(VANTOR_FUZZ_COMPILER ${CCACHE_PROGRAM} ${VANTOR_CLANGXX})
endif()
set_property(GLOBAL PROPERTY VANTOR_FUZZERS "")

function(_vantor_fuzz_collect target out_sources out_includes)
  set(sources "")
  set(includes "")
  set(pending ${target})
  set(seen "")
  while(pending)
    list(POP_FRONT pending current)
    if(current IN_LIST seen OR NOT TARGET ${current})
      continue()
    endif()
    list(APPEND seen ${current})
    get_target_property(imported ${current} IMPORTED)
    if(imported)
      continue()
    endif()
    get_target_property(type ${current} TYPE)
    get_target_property(dir ${current} SOURCE_DIR)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(dirs ${current} INCLUDE_DIRECTORIES)
      if(NOT dirs)
        set(dirs "")
      endif()
      list(FILTER dirs EXCLUDE REGEX "[$]<")
      list(APPEND includes ${dirs})
      get_target_property(own ${current} SOURCES)
      foreach(source IN LISTS own)
        if(source MATCHES "\\.(cpp|cc|c)$")
          cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${dir} OUTPUT_VARIABLE full)
          list(APPEND sources ${full})
          # A library's source compiles with its own library's folders, the
          # same in every target, so that ccache serves it once for all.
          set_property(GLOBAL PROPERTY "VANTOR_FUZZ_INCLUDES_${full}" ${PROJECT_SOURCE_DIR} ${dirs})
        endif()
      endforeach()
      get_target_property(links ${current} LINK_LIBRARIES)
    else()
      get_target_property(links ${current} INTERFACE_LINK_LIBRARIES)
    endif()
    if(links)
      list(APPEND pending ${links})
    endif()
  endwhile()
  list(REMOVE_DUPLICATES sources)
  list(REMOVE_DUPLICATES includes)
  set(${out_sources} ${sources} PARENT_SCOPE)
  set(${out_includes} ${includes} PARENT_SCOPE)
endfunction()

function(vantor_add_fuzzer)
  if(NOT VANTOR_CLANGXX)
    return()
  endif()
  cmake_parse_arguments(ARG "" "NAME;SOURCE;SECONDS;MAX_LEN;CORPUS" "LIBS;INCLUDES;DEFINES" ${ARGN})
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS 4)
  endif()
  if(NOT ARG_CORPUS)
    set(ARG_CORPUS corpus)
  endif()
  set(seeds ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_CORPUS})
  if(NOT ARG_MAX_LEN)
    set(ARG_MAX_LEN 4096)
  endif()
  set(sources ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_SOURCE})
  set(includes ${PROJECT_SOURCE_DIR} ${ARG_INCLUDES})
  foreach(lib IN LISTS ARG_LIBS)
    _vantor_fuzz_collect(${lib} lib_sources lib_includes)
    list(APPEND sources ${lib_sources})
    list(APPEND includes ${lib_includes})
  endforeach()
  list(REMOVE_DUPLICATES sources)
  list(REMOVE_DUPLICATES includes)
  list(FILTER includes EXCLUDE REGEX "\\$<")
  list(TRANSFORM includes PREPEND -I)
  set(defines ${ARG_DEFINES})
  list(TRANSFORM defines PREPEND -D)

  # One object per source, so that the build runs them in parallel; the
  # sources that several targets share compile with the same command in the
  # same folder, so that ccache serves them once for all.
  set(fuzzer ${CMAKE_BINARY_DIR}/fuzz/${ARG_NAME})
  set(object_dir ${CMAKE_CURRENT_BINARY_DIR}/${ARG_NAME}_objects)
  set(flags -std=c++20 -O1 -g -fno-omit-frame-pointer
            -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined)
  set(objects "")
  foreach(source IN LISTS sources)
    cmake_path(RELATIVE_PATH source BASE_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE relative)
    string(REGEX REPLACE "[/.]" "_" stem "${relative}")
    set(object ${object_dir}/${stem}.o)
    # Named from the top build folder, where the compiler runs: the name the
    # dependency file gives the object is then the one the build knows.
    cmake_path(RELATIVE_PATH object BASE_DIRECTORY ${PROJECT_BINARY_DIR}
               OUTPUT_VARIABLE object_name)
    # The target's own source sees every folder and its definitions.
    if(source STREQUAL ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_SOURCE})
      set(own_defines ${defines})
      set(own_includes ${includes})
    else()
      set(own_defines "")
      get_property(own_includes GLOBAL PROPERTY "VANTOR_FUZZ_INCLUDES_${source}")
      list(REMOVE_DUPLICATES own_includes)
      list(TRANSFORM own_includes PREPEND -I)
    endif()
    # Where ccache's base folder shortens the paths, the dependency file
    # names the files read relative to the top build folder: it is read as
    # written, not relative to this directory's build folder, or its files
    # are never found and every build compiles the object again.
    cmake_policy(PUSH)
    cmake_policy(SET CMP0116 OLD)
    add_custom_command(
      OUTPUT ${object}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${object_dir}
      COMMAND ${VANTOR_FUZZ_COMPILER} ${flags} ${own_includes} ${own_defines} -MD -MF ${object}.d -c ${source} -o ${object_name}
      DEPENDS ${source}
      DEPFILE ${object}.d
      WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
      COMMENT "Fuzz object ${relative} (${ARG_NAME})"
      VERBATIM)
    cmake_policy(POP)
    list(APPEND objects ${object})
  endforeach()
  add_custom_command(
    OUTPUT ${fuzzer}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/fuzz
    COMMAND ${VANTOR_CLANGXX} -fsanitize=fuzzer,address,undefined ${objects} -o ${fuzzer}
            -pthread -ldl
    DEPENDS ${objects}
    COMMENT "Linking the fuzz target ${ARG_NAME}"
    VERBATIM)
  add_custom_target(${ARG_NAME} ALL DEPENDS ${fuzzer})
  set_property(GLOBAL APPEND PROPERTY VANTOR_FUZZERS
               "${ARG_NAME}|${fuzzer}|${seeds}|${ARG_MAX_LEN}")

  # New inputs go into a folder of the build tree; the committed seeds are only read.
  add_test(NAME ${ARG_NAME}
           COMMAND ${CMAKE_COMMAND} -DFUZZER=${fuzzer} -DSECONDS=${ARG_SECONDS}
                   -DMAX_LEN=${ARG_MAX_LEN}
                   -DWORK=${CMAKE_CURRENT_BINARY_DIR}/${ARG_NAME}_corpus
                   -DSEEDS=${seeds}
                   -P ${PROJECT_SOURCE_DIR}/cmake/run_fuzzer.cmake)
  set_tests_properties(${ARG_NAME} PROPERTIES LABELS fuzz TIMEOUT 300)
endfunction()
