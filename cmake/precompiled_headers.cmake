# Precompiled headers. Parsing the Qt, GoogleTest and standard headers is most of what a widget
# or test source costs to compile (two thirds of a widget test's time); each kind of target parses
# them once instead. A precompiled header that does not fit a source (other macros) is ignored by
# the compiler, which then reads the headers as usual, so this can make a build slower, never
# wrong. Configure with -DOMBRI_PCH=OFF to check that every source includes what it uses.
option(OMBRI_PCH "Precompile the Qt, GoogleTest and standard library headers" ON)

set(OMBRI_PCH_STD
    <algorithm> <array> <cstddef> <cstdint> <cstdio> <cstdlib> <cstring> <filesystem>
    <functional> <map> <memory> <optional> <sstream> <string> <system_error> <utility> <vector>)
set(OMBRI_PCH_QT
    <QAction> <QApplication> <QImage> <QKeyEvent> <QLabel> <QLineEdit> <QMainWindow> <QMenu>
    <QMenuBar> <QMouseEvent> <QPainter> <QScrollBar> <QSettings> <QString> <QStringList>
    <QTimer> <QToolBar> <QWidget>)

# A precompiled header the compiler cannot use is named, so a slow build has a visible cause.
if(OMBRI_PCH)
    add_compile_options(-Winvalid-pch)
endif()

# The headers of one kind of target. Kinds: std, qt, test, gui-test, and journey (the gui-test
# headers at the journeys' own optimisation level). The first target of a kind
# compiles them; the others of that kind use its result, since they share their flags.
function(ombri_precompile target kind)
    if(NOT OMBRI_PCH)
        return()
    endif()
    get_property(owner GLOBAL PROPERTY OMBRI_PCH_OWNER_${kind})
    if(owner)
        target_precompile_headers(${target} REUSE_FROM ${owner})
        return()
    endif()
    set_property(GLOBAL PROPERTY OMBRI_PCH_OWNER_${kind} ${target})
    set(headers ${OMBRI_PCH_STD})
    set(gui_test NO)
    if(kind STREQUAL "gui-test" OR kind STREQUAL "journey")
        set(gui_test YES)
    endif()
    if(kind STREQUAL "qt" OR gui_test)
        list(APPEND headers ${OMBRI_PCH_QT})
    endif()
    if(kind STREQUAL "test" OR gui_test)
        list(APPEND headers <gtest/gtest.h>)
    endif()
    if(gui_test)
        list(APPEND headers <QTest>)
    endif()
    target_precompile_headers(${target} PRIVATE ${headers})
endfunction()
