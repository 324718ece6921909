# GoogleTest for the Windows build, from Debian's sources (libgtest-dev); the
# test programs run through Wine (CMAKE_CROSSCOMPILING_EMULATOR). Its own
# build defines GTest::gtest and GTest::gtest_main.
set(ZANDREL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${ZANDREL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# Test programs carry the programs' manifest, so their "ANSI" texts are UTF-8
# as the shipped programs' are; and string 1, "Блокнот", which an indirect
# string ("@PROGRAM,-1") names as an app's own name does.
set(ZANDREL_TEST_RC ${CMAKE_BINARY_DIR}/test-manifest.rc)
zandrel_windows_manifest(asInvoker ZANDREL_TEST_MANIFEST)
file(WRITE ${ZANDREL_TEST_RC} "1 24 \"${ZANDREL_TEST_MANIFEST}\"\n"
     "STRINGTABLE\nBEGIN\n  1 L\"\\x0411\\x043b\\x043e\\x043a\\x043d\\x043e\\x0442\"\nEND\n")
target_sources(gtest_main INTERFACE ${ZANDREL_TEST_RC})
