# SPDX-License-Identifier: MIT
# Precompiled headers for the tests, compiled once for every group of tests
# in one folder that link the same Qt modules. A header precompiled for one
# group serves no other: Qt's headers test which modules are linked, and
# QTest the folder of the test.

# The Qt modules a target links, however indirectly, sorted.
function(quandrel_qt_modules target out)
    quandrel_linked(${target} linked)
    set(modules)
    foreach(current ${linked})
        if(current MATCHES "^Qt6::(Core|Network|WebSockets|Gui|Widgets|Test)$")
            list(APPEND modules ${CMAKE_MATCH_1})
        endif()
    endforeach()
    list(SORT modules)
    set(${out} ${modules} PARENT_SCOPE)
endfunction()

# Gives `target` its group's precompiled headers, made in the current folder
# the first time the group is seen there.
function(quandrel_precompiled target)
    if(NOT QUANDREL_PCH)
        return()
    endif()
    quandrel_qt_modules(${target} modules)
    string(REPLACE ";" "_" group "${modules}")
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    string(MAKE_C_IDENTIFIER "${folder}" folder)
    set(pch quandrel_pch_${folder}_${group})
    if(NOT TARGET ${pch})
        set(stub ${CMAKE_CURRENT_BINARY_DIR}/${pch}.cpp)
        file(WRITE ${stub} "// Compiles the precompiled headers of its group.\n")
        add_library(${pch} STATIC ${stub})
        set_target_properties(${pch} PROPERTIES AUTOMOC OFF)
        set(headers <memory> <functional> <optional> <vector> <map> <algorithm> <QObject>
                    <QString> <QByteArray> <QList> <QHash> <QTimer> <QElapsedTimer> <QPointer>
                    <QTest>)
        if("Network" IN_LIST modules)
            list(APPEND headers <QHostAddress> <QTcpSocket> <QTcpServer>)
        endif()
        if("Widgets" IN_LIST modules)
            list(APPEND headers <QApplication> <QWidget> <QLabel> <QLineEdit> <QPushButton>)
        endif()
        set(libraries)
        foreach(module ${modules})
            list(APPEND libraries Qt6::${module})
        endforeach()
        target_link_libraries(${pch} PRIVATE ${libraries} quandrel_options)
        target_precompile_headers(${pch} PRIVATE ${headers})
    endif()
    target_precompile_headers(${target} REUSE_FROM ${pch})
endfunction()
