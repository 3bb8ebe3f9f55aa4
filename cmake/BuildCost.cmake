# Cheaper clean builds (CI builds everything twice from nothing): precompiled headers for
# every library and program, chosen by what each one links, and unity builds of the test
# programs marked safe for it (kvel_add_test ... UNITY). Both are on by default only without a compiler launcher: ccache caches no
# compilation that uses a precompiled header, and a unity batch recompiles whole when one
# of its files changes, so a developer's incremental ccache build keeps them off.
if(CMAKE_CXX_COMPILER_LAUNCHER)
  set(kvel_fast_default OFF)
else()
  set(kvel_fast_default ON)
endif()
option(KVEL_PCH "Precompiled headers for the libraries and programs" ${kvel_fast_default})
option(KVEL_UNITY_TESTS "Unity builds of the test programs" ${kvel_fast_default})

set(KVEL_PCH_STD <algorithm> <array> <cstdint> <functional> <map> <memory> <sstream>
    <stdexcept> <string> <vector>)
set(KVEL_PCH_QT_CORE <QByteArray> <QCoreApplication> <QObject> <QString> <QTimer>)
set(KVEL_PCH_QT_WIDGETS <QAction> <QApplication> <QComboBox> <QDialog> <QKeyEvent> <QLabel>
    <QLineEdit> <QMenu> <QPainter> <QPushButton> <QWidget>)

function(kvel_collect_targets dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    kvel_collect_targets(${sub} more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# Appends `property` of `target` to the list `out` where the target has it set.
macro(kvel_append_target_property out target property)
  get_target_property(kvel_property_value ${target} ${property})
  if(kvel_property_value)
    list(APPEND ${out} ${kvel_property_value})
  endif()
endmacro()

# Every target `target` links, directly or through others.
function(kvel_linked_closure target out)
  set(seen)
  set(queue ${target})
  while(queue)
    list(POP_FRONT queue current)
    if(current IN_LIST seen)
      continue()
    endif()
    # Imported targets found in a subfolder (GTest) are not visible here: the name tells.
    list(APPEND seen ${current})
    if(NOT TARGET ${current})
      continue()
    endif()
    kvel_append_target_property(queue ${current} ALIASED_TARGET)
    get_target_property(type ${current} TYPE)
    set(links)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      kvel_append_target_property(links ${current} LINK_LIBRARIES)
    endif()
    kvel_append_target_property(links ${current} INTERFACE_LINK_LIBRARIES)
    foreach(link IN LISTS links)
      # $<LINK_ONLY:x> carries a static library's private links: they do not compile in.
      if(NOT link MATCHES "^\\$<")
        list(APPEND queue ${link})
      endif()
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(kvel_reduce_build_cost)
  kvel_collect_targets(${PROJECT_SOURCE_DIR} targets)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(STATIC_LIBRARY|EXECUTABLE)$")
      continue()
    endif()
    get_target_property(imported ${target} IMPORTED)
    if(imported)
      continue()
    endif()
    kvel_linked_closure(${target} linked)
    # Only what the target may include anyway: a stray include must still fail the build.
    set(headers ${KVEL_PCH_STD})
    if("Qt6::Core" IN_LIST linked OR "Qt::Core" IN_LIST linked)
      list(APPEND headers ${KVEL_PCH_QT_CORE})
    endif()
    if("Qt6::Widgets" IN_LIST linked OR "Qt::Widgets" IN_LIST linked)
      list(APPEND headers ${KVEL_PCH_QT_WIDGETS})
    endif()
    set(is_test OFF)
    if("GTest::gtest" IN_LIST linked OR "GTest::GTest" IN_LIST linked)
      set(is_test ON)
      list(APPEND headers <gtest/gtest.h>)
    endif()
    if("Qt6::Test" IN_LIST linked)
      list(APPEND headers <QTest>)
    endif()
    get_target_property(unity_safe ${target} KVEL_UNITY)
    set(unity OFF)
    if(KVEL_UNITY_TESTS AND is_test AND unity_safe)
      set(unity ON)
      set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
    endif()
    # A precompiled header costs about as much as compiling one file with those headers:
    # it pays where many files share it, not in a unity build or a program of one file.
    get_target_property(sources ${target} SOURCES)
    list(FILTER sources INCLUDE REGEX "\\.(cpp|cc|cxx)$")
    list(LENGTH sources files)
    if(KVEL_PCH AND NOT unity AND files GREATER_EQUAL 4)
      target_precompile_headers(${target} PRIVATE ${headers})
      # GCC 12 loses the system-header mark of libstdc++ code that is inlined from a
      # precompiled header and reports its known false array-bounds and stringop warnings
      # (std::string copies) as if they were ours. Builds without the header keep them.
      if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_compile_options(${target} PRIVATE -Wno-array-bounds -Wno-stringop-overflow
          -Wno-stringop-overread)
      endif()
    endif()
  endforeach()
endfunction()

kvel_reduce_build_cost()
