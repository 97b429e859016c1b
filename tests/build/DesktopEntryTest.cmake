# Installing puts Lumra's desktop entry beside its icon, named for the app id Lumra runs under and
# naming the window class its windows carry, so menus, docks and compositors show its name and icon.
# Run as: cmake -DBUILD=<build dir> -DWORK=<dir> -DMAIN=<src/app/main.cpp> -P <this>
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${WORK}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${WORK}" --component desktop
                RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(failed)
    message(FATAL_ERROR "the install failed\n${out}")
endif()

# What the program says about itself, read where it says it.
file(READ "${MAIN}" main)
string(REGEX MATCH "setDesktopFileName\\(QStringLiteral\\(\"([^\"]+)\"\\)\\)" found "${main}")
set(appId "${CMAKE_MATCH_1}")
string(REGEX MATCH "setApplicationName\\(QStringLiteral\\(\"([^\"]+)\"\\)\\)" found "${main}")
set(appName "${CMAKE_MATCH_1}") # the class of the windows' WM_CLASS
if(NOT appId OR NOT appName)
    message(FATAL_ERROR "main.cpp names no desktop file or application")
endif()

set(entry "${WORK}/share/applications/${appId}.desktop")
if(NOT EXISTS "${entry}")
    message(FATAL_ERROR "no ${appId}.desktop installed")
endif()
file(STRINGS "${entry}" lines)
foreach(expected "Type=Application" "Name=${appName}" "Exec=lumra" "StartupWMClass=${appName}")
    if(NOT expected IN_LIST lines)
        message(FATAL_ERROR "${appId}.desktop lacks \"${expected}\"")
    endif()
endforeach()
list(FILTER lines INCLUDE REGEX "^Icon=")
string(REPLACE "Icon=" "" icon "${lines}")
if(NOT EXISTS "${WORK}/share/icons/hicolor/scalable/apps/${icon}.svg")
    message(FATAL_ERROR "the icon \"${icon}\" the entry names is not installed")
endif()

find_program(VALIDATE desktop-file-validate)
if(VALIDATE)
    execute_process(COMMAND "${VALIDATE}" "${entry}" RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(failed OR out MATCHES "error")
        message(FATAL_ERROR "desktop-file-validate:\n${out}")
    endif()
else()
    message(WARNING "desktop-file-validate not found (desktop-file-utils): the entry's syntax is not checked")
endif()
