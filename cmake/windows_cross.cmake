# The Windows cross-build's own parts, read right after project() (the
# toolchain file names this file):
# - Qt for mingw-w64, unpacked from its archive into the build folder; without
#   the archive the windows are left out and core, the command line and their
#   tests are built;
# - Expat for mingw-w64, unpacked from its archive the same way (core needs
#   it; zlib is Debian's libz-mingw-w64-dev);
# - the C++ runtime: programs that link Qt use the compiler's DLLs, as Qt's
#   own DLLs do; every other program is linked statically and needs nothing;
# - the deploy step: the Qt DLLs, plugins and runtime DLLs beside each Qt
#   program of the build, and the folder `deploy/` that holds batchreplace.exe
#   with everything it needs on a Windows machine with nothing installed.

set(BR_QT_MINGW_ARCHIVE "${PROJECT_SOURCE_DIR}/../shared/toolchains/qt6-mingw64.tar.xz"
    CACHE FILEPATH "Qt 6 for mingw-w64 (qt6-mingw64.tar.xz) the Windows windows are built with")
set(BR_MINGW_GCC_DLL_DIR "/usr/lib/gcc/x86_64-w64-mingw32/12-posix" CACHE PATH
    "Folder of the compiler's runtime DLLs (libstdc++-6.dll, libgcc_s_seh-1.dll)")
set(BR_MINGW_THREAD_DLL_DIR "/usr/x86_64-w64-mingw32/lib" CACHE PATH
    "Folder of libwinpthread-1.dll")
# Qt's offscreen platform, which the window tests use, reads its fonts from
# lib/fonts beside the program on Windows: a Latin and a CJK font go there.
set(BR_TEST_FONTS "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf;/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
    CACHE STRING "Fonts for the window tests' offscreen platform (missing ones are left out)")

if(EXISTS "${BR_QT_MINGW_ARCHIVE}")
  # Unpacked again only when the archive changed.
  set(BR_QT_MINGW_DIR ${CMAKE_BINARY_DIR}/qt6-mingw64)
  file(SHA256 "${BR_QT_MINGW_ARCHIVE}" archive_hash)
  set(stamp ${CMAKE_BINARY_DIR}/qt6-mingw64.unpacked)
  if(EXISTS ${stamp})
    file(READ ${stamp} unpacked_hash)
  endif()
  if(NOT "${unpacked_hash}" STREQUAL archive_hash OR NOT EXISTS ${BR_QT_MINGW_DIR}/bin/Qt6Core.dll)
    message(STATUS "Windows: unpacking ${BR_QT_MINGW_ARCHIVE}")
    file(REMOVE_RECURSE ${BR_QT_MINGW_DIR})
    file(ARCHIVE_EXTRACT INPUT "${BR_QT_MINGW_ARCHIVE}" DESTINATION ${CMAKE_BINARY_DIR})
    if(NOT EXISTS ${BR_QT_MINGW_DIR}/bin/Qt6Core.dll)
      message(FATAL_ERROR "${BR_QT_MINGW_ARCHIVE} does not hold qt6-mingw64/bin/Qt6Core.dll")
    endif()
    file(WRITE ${stamp} "${archive_hash}")
  endif()
  # Packages are looked up under the root paths only: Qt's folder becomes one,
  # its CMake files are found under <root>/lib/cmake. The code generators
  # (moc, rcc, uic) are the host's, of the same Qt version.
  list(APPEND CMAKE_FIND_ROOT_PATH ${BR_QT_MINGW_DIR})
  list(APPEND CMAKE_PREFIX_PATH /)
  set(QT_HOST_PATH /usr CACHE PATH "Prefix of the host's Qt tools")
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH
      "CMake folder of the host's Qt tools")
  message(STATUS "Windows: the windows are built with Qt from ${BR_QT_MINGW_DIR}")
else()
  message(STATUS "Windows: no Qt for mingw-w64 at ${BR_QT_MINGW_ARCHIVE} (BR_QT_MINGW_ARCHIVE): "
                 "batchreplace.exe, update.exe and the window tests are left out")
  set(BATCHREPLACE_BUILD_GUI OFF)
endif()

# Expat for mingw-w64 (static, see the toolchains' README), unpacked the same
# way; core reads the XML parts of .docx/.xlsx packages with it. zlib comes
# from Debian's libz-mingw-w64-dev under the mingw-w64 root.
set(BR_EXPAT_MINGW_ARCHIVE "${PROJECT_SOURCE_DIR}/../shared/toolchains/expat-mingw64.tar.xz"
    CACHE FILEPATH "Expat for mingw-w64 (expat-mingw64.tar.xz), static")
if(NOT EXISTS "${BR_EXPAT_MINGW_ARCHIVE}")
  message(FATAL_ERROR "Windows: no Expat for mingw-w64 at ${BR_EXPAT_MINGW_ARCHIVE} "
                      "(BR_EXPAT_MINGW_ARCHIVE); core needs it for .docx and .xlsx")
endif()
set(BR_EXPAT_MINGW_DIR ${CMAKE_BINARY_DIR}/expat-mingw64)
file(SHA256 "${BR_EXPAT_MINGW_ARCHIVE}" archive_hash)
set(stamp ${CMAKE_BINARY_DIR}/expat-mingw64.unpacked)
set(unpacked_hash)
if(EXISTS ${stamp})
  file(READ ${stamp} unpacked_hash)
endif()
if(NOT "${unpacked_hash}" STREQUAL archive_hash OR NOT EXISTS ${BR_EXPAT_MINGW_DIR}/lib/libexpat.a)
  message(STATUS "Windows: unpacking ${BR_EXPAT_MINGW_ARCHIVE}")
  file(REMOVE_RECURSE ${BR_EXPAT_MINGW_DIR})
  file(ARCHIVE_EXTRACT INPUT "${BR_EXPAT_MINGW_ARCHIVE}" DESTINATION ${CMAKE_BINARY_DIR})
  if(NOT EXISTS ${BR_EXPAT_MINGW_DIR}/lib/libexpat.a)
    message(FATAL_ERROR "${BR_EXPAT_MINGW_ARCHIVE} does not hold expat-mingw64/lib/libexpat.a")
  endif()
  file(WRITE ${stamp} "${archive_hash}")
endif()
list(APPEND CMAKE_FIND_ROOT_PATH ${BR_EXPAT_MINGW_DIR})
list(APPEND CMAKE_PREFIX_PATH /)

# True in <out> when <target> links a Qt library, directly or through others.
function(br_links_qt target out)
  set(queue ${target})
  set(seen)
  while(queue)
    list(POP_FRONT queue t)
    if(t IN_LIST seen OR NOT TARGET ${t})
      continue()
    endif()
    list(APPEND seen ${t})
    if(t MATCHES "^Qt6?::")
      set(${out} ON PARENT_SCOPE)
      return()
    endif()
    get_target_property(type ${t} TYPE)
    get_target_property(imported ${t} IMPORTED)
    set(libs)
    if(NOT imported AND NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(direct ${t} LINK_LIBRARIES)
      if(direct)
        list(APPEND libs ${direct})
      endif()
    endif()
    get_target_property(usage ${t} INTERFACE_LINK_LIBRARIES)
    if(usage)
      list(APPEND libs ${usage})
    endif()
    foreach(lib IN LISTS libs)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" lib "${lib}")
      list(APPEND queue ${lib})
    endforeach()
  endwhile()
  set(${out} OFF PARENT_SCOPE)
endfunction()

# The files a Qt program needs beside it, as pairs <source> <path in the folder>.
# TESTS adds the offscreen platform and Qt Test.
function(br_qt_runtime_files out)
  cmake_parse_arguments(arg "TESTS" "" "" ${ARGN})
  set(files)
  set(modules Core Gui Widgets Network)
  if(arg_TESTS)
    list(APPEND modules Test)
  endif()
  foreach(m IN LISTS modules)
    list(APPEND files ${BR_QT_MINGW_DIR}/bin/Qt6${m}.dll Qt6${m}.dll)
  endforeach()
  set(plugins platforms/qwindows.dll styles/qwindowsvistastyle.dll tls/qschannelbackend.dll
              tls/qcertonlybackend.dll)
  if(arg_TESTS)
    list(APPEND plugins platforms/qoffscreen.dll)
  endif()
  foreach(p IN LISTS plugins)
    list(APPEND files ${BR_QT_MINGW_DIR}/plugins/${p} ${p})
  endforeach()
  if(arg_TESTS)
    foreach(font IN LISTS BR_TEST_FONTS)
      if(EXISTS ${font})
        get_filename_component(name ${font} NAME)
        list(APPEND files ${font} lib/fonts/${name})
      endif()
    endforeach()
  endif()
  list(APPEND files
    ${BR_MINGW_GCC_DLL_DIR}/libstdc++-6.dll libstdc++-6.dll
    ${BR_MINGW_GCC_DLL_DIR}/libgcc_s_seh-1.dll libgcc_s_seh-1.dll
    ${BR_MINGW_THREAD_DLL_DIR}/libwinpthread-1.dll libwinpthread-1.dll)
  set(${out} ${files} PARENT_SCOPE)
endfunction()

# br_windows_deploy_files(<name> <folder> [TESTS]): the custom target <name>
# copies the Qt runtime into <folder> whenever one of its files changes.
function(br_windows_deploy_files name folder)
  br_qt_runtime_files(pairs ${ARGN})
  set(sources)
  set(outputs)
  set(folders ${folder})
  set(copies)
  while(pairs)
    list(POP_FRONT pairs source relative)
    if(NOT EXISTS ${source})
      message(FATAL_ERROR "Windows deploy: ${source} is missing")
    endif()
    list(APPEND sources ${source})
    list(APPEND outputs ${folder}/${relative})
    get_filename_component(sub ${folder}/${relative} DIRECTORY)
    list(APPEND folders ${sub})
    list(APPEND copies COMMAND ${CMAKE_COMMAND} -E copy_if_different ${source}
                            ${folder}/${relative})
  endwhile()
  list(REMOVE_DUPLICATES folders)
  add_custom_command(OUTPUT ${outputs}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${folders} ${copies} DEPENDS ${sources}
                     COMMENT "Deploying the Qt runtime into ${folder}" VERBATIM)
  add_custom_target(${name} DEPENDS ${outputs})
endfunction()

# Called once the whole tree is read: each program gets its runtime, and the
# deploy folder of batchreplace.exe is assembled.
function(br_windows_finish_targets)
  set(dirs ${CMAKE_SOURCE_DIR})
  set(programs)
  while(dirs)
    list(POP_FRONT dirs dir)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    list(APPEND dirs ${subdirs})
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(t IN LISTS targets)
      get_target_property(type ${t} TYPE)
      if(type STREQUAL "EXECUTABLE")
        list(APPEND programs ${t})
      endif()
    endforeach()
  endwhile()

  set(deployed_folders)
  foreach(t IN LISTS programs)
    br_links_qt(${t} qt)
    if(NOT qt)
      target_link_options(${t} PRIVATE -static)
      continue()
    endif()
    # Every Qt program of the build can run where it was built (the window
    # tests run there under Wine): the runtime is copied beside it.
    get_target_property(folder ${t} RUNTIME_OUTPUT_DIRECTORY)
    if(NOT folder)
      get_target_property(folder ${t} BINARY_DIR)
    endif()
    string(MD5 key ${folder})
    string(SUBSTRING ${key} 0 8 key)
    if(NOT folder IN_LIST deployed_folders)
      list(APPEND deployed_folders ${folder})
      br_windows_deploy_files(br_qt_runtime_${key} ${folder} TESTS)
    endif()
    add_dependencies(${t} br_qt_runtime_${key})
  endforeach()

  # deploy/: batchreplace.exe, which writes update.exe beside itself from
  # its payload, and what both need. Nothing of the build or the tests.
  if(TARGET batchreplace)
    set(deploy ${CMAKE_BINARY_DIR}/deploy)
    br_windows_deploy_files(br_deploy_runtime ${deploy})
    add_custom_target(windows_deploy ALL
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:batchreplace> ${deploy}/
      DEPENDS batchreplace br_deploy_runtime
      COMMENT "Deploying batchreplace.exe into ${deploy}" VERBATIM)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL br_windows_finish_targets)
