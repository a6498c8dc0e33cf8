# comloop's picture exists once, as res/comloop.svg. Everything that needs a
# bitmap is rendered from it at build time by tools/icon_tool.cpp, so the
# window, the menu and the package can never show two different icons.
# Built for Windows, the tool has to run here, so it is the one a build for
# this machine made (Qt for Windows has no Svg module to build it with).
if(WIN32)
    find_program(COMLOOP_ICON_TOOL comloop_icon_tool HINTS ${PROJECT_SOURCE_DIR}/build REQUIRED)
    set(icon_tool ${COMLOOP_ICON_TOOL})
else()
    find_package(Qt6 REQUIRED COMPONENTS Gui Svg)
    qt_add_executable(comloop_icon_tool tools/icon_tool.cpp)
    set_target_properties(comloop_icon_tool PROPERTIES WIN32_EXECUTABLE OFF MACOSX_BUNDLE OFF)
    target_link_libraries(comloop_icon_tool PRIVATE Qt6::Gui Qt6::Svg)
    set(icon_tool comloop_icon_tool)
endif()

set(COMLOOP_ICON_SVG ${PROJECT_SOURCE_DIR}/res/comloop.svg)
set(COMLOOP_ICON_DIR ${PROJECT_BINARY_DIR}/icons)
# The sizes of the hicolor theme that desktops ask for, menus to launchers.
set(COMLOOP_ICON_SIZES 16 22 24 32 48 64 128 256)

# The window icon, compiled into the program: a 32x32 XPM, which Qt reads
# without searching for its image plugins, a noticeable share of start-up.
# A target links comloop_icon_xpm and then has `#include "comloop.xpm"`,
# which declares `comloop_xpm`.
set(xpm ${COMLOOP_ICON_DIR}/xpm/comloop.xpm)
add_custom_command(OUTPUT ${xpm}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${COMLOOP_ICON_DIR}/xpm
    COMMAND ${icon_tool} ${COMLOOP_ICON_SVG} 32 ${xpm}
    DEPENDS ${icon_tool} ${COMLOOP_ICON_SVG}
    COMMENT "Window icon from res/comloop.svg")
add_custom_target(comloop_icon_xpm_file DEPENDS ${xpm})
add_library(comloop_icon_xpm INTERFACE)
target_include_directories(comloop_icon_xpm INTERFACE ${COMLOOP_ICON_DIR}/xpm)
add_dependencies(comloop_icon_xpm comloop_icon_xpm_file)

# The icon theme's PNGs, in the folders they are installed to: a Linux
# desktop's.
if(WIN32)
    return()
endif()
set(pngs)
foreach(size IN LISTS COMLOOP_ICON_SIZES)
    set(folder ${COMLOOP_ICON_DIR}/hicolor/${size}x${size}/apps)
    add_custom_command(OUTPUT ${folder}/comloop.png
        COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
        COMMAND comloop_icon_tool ${COMLOOP_ICON_SVG} ${size} ${folder}/comloop.png
        DEPENDS comloop_icon_tool ${COMLOOP_ICON_SVG}
        COMMENT "${size}x${size} icon from res/comloop.svg")
    list(APPEND pngs ${folder}/comloop.png)
endforeach()
add_custom_target(comloop_icon_theme ALL DEPENDS ${pngs})
