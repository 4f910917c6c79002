# Helpers shared by the subsystem folders.

# tr52_subsystem(NAME [SHARED] DEPS ...): a library made of every .cpp in the calling folder.
# Files are globbed so that adding a source file never means editing a shared list.
function(tr52_subsystem name)
  cmake_parse_arguments(ARG "SHARED" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(srcs AND ARG_SHARED)
    add_library(${name} SHARED ${srcs})
  elseif(srcs)
    add_library(${name} STATIC ${srcs})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# tr52_unit_tests(NAME DEPS ... [LABELS ...]): one test program from every .cpp in the calling
# folder, registered with CTest test by test. Label "threads" marks suites for the tsan preset.
function(tr52_unit_tests name)
  cmake_parse_arguments(ARG "" "" "DEPS;LABELS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 LABELS "${ARG_LABELS}")
  if("threads" IN_LIST ARG_LABELS)
    set_property(GLOBAL APPEND PROPERTY TR52_THREADS_TESTS ${name})
  endif()
endfunction()

# Installed, the programs live in <prefix>/bin and the plug-in with the window layer in the
# private library folder <prefix>/lib/tr52 (Debian's place for a package's own libraries).
set(TR52_PRIVATE_LIBDIR lib/tr52)

# tr52_runpath(TARGET INSTALLED): the run path under which the binary finds libtr52_win.so.
# In the build's bin folder (and any copy of it) that is the binary's own folder; installed it
# is INSTALLED, relative to $ORIGIN so that any prefix and DESTDIR work ("$ORIGIN" for what is
# installed beside the library, "$ORIGIN/../lib/tr52" for programs).
function(tr52_runpath target installed)
  set_target_properties(${target} PROPERTIES BUILD_WITH_INSTALL_RPATH OFF BUILD_RPATH "$ORIGIN"
                                             INSTALL_RPATH "${installed}")
endfunction()
set(TR52_PROGRAM_RUNPATH "$ORIGIN/../${TR52_PRIVATE_LIBDIR}")
