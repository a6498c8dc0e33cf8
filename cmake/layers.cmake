# The program is built in layers, each one folder and one target, and a
# layer may use only the layers it names in USES (and what those use in
# turn). The compiler alone cannot hold that line: a header next to a source
# is always found, and an include folder shows every header in it. So each
# build also reads the includes of every layer, and of the custom-widget
# headers its stored layouts name, and refuses a header of a layer it does
# not use, saying which file, which header and which arrows are allowed.
#
#   comloop_layer(<target> STATIC|OBJECT|EXECUTABLE
#                 SOURCES <files>... [USES <targets>...])
#
# Headers are told apart by file name, so no two layers may share one.
# comloop_check_layers() runs once all layers are declared.

set(COMLOOP_LAYER_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/check_layers.cmake)

function(comloop_layer target kind)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "SOURCES;USES")
    if(kind STREQUAL "EXECUTABLE")
        qt_add_executable(${target} ${arg_SOURCES})
        set(scope PRIVATE)
    else()
        add_library(${target} ${kind} ${arg_SOURCES})
        set(scope PUBLIC)
    endif()
    target_link_libraries(${target} ${scope} ${arg_USES})

    set(headers "")
    set(folders "")
    set(checked "")
    foreach(file IN LISTS arg_SOURCES)
        get_filename_component(path ${file} ABSOLUTE)
        list(APPEND checked ${path})
        if(file MATCHES "\\.h$")
            get_filename_component(name ${file} NAME)
            get_property(owner GLOBAL PROPERTY COMLOOP_HEADER_${name})
            if(owner)
                message(FATAL_ERROR "layers: ${name} is a header of both ${owner} and ${target}")
            endif()
            set_property(GLOBAL PROPERTY COMLOOP_HEADER_${name} ${target})
            list(APPEND headers ${name})
            get_filename_component(folder ${path} DIRECTORY)
            list(APPEND folders ${folder})
        endif()
    endforeach()
    list(REMOVE_DUPLICATES folders)
    if(folders)
        target_include_directories(${target} ${scope} ${folders})
    endif()

    set(layers "")
    foreach(used IN LISTS arg_USES)
        if(used MATCHES "^comloop_")
            list(APPEND layers ${used})
        endif()
    endforeach()
    set_property(GLOBAL APPEND PROPERTY COMLOOP_LAYERS ${target})
    set_property(GLOBAL PROPERTY COMLOOP_USES_${target} "${layers}")
    set_property(GLOBAL PROPERTY COMLOOP_OWN_${target} "${headers}")
    set_property(GLOBAL PROPERTY COMLOOP_CHECKED_${target} "${checked}")
endfunction()

# Every layer a layer may reach, itself included.
function(comloop_reach target out)
    set(reach ${target})
    set(queue ${target})
    while(queue)
        list(POP_FRONT queue current)
        get_property(uses GLOBAL PROPERTY COMLOOP_USES_${current})
        foreach(used IN LISTS uses)
            if(NOT used IN_LIST reach)
                list(APPEND reach ${used})
                list(APPEND queue ${used})
            endif()
        endforeach()
    endwhile()
    set(${out} ${reach} PARENT_SCOPE)
endfunction()

function(comloop_check_layers)
    get_property(layers GLOBAL PROPERTY COMLOOP_LAYERS)
    set(owners "")
    foreach(layer IN LISTS layers)
        get_property(own GLOBAL PROPERTY COMLOOP_OWN_${layer})
        foreach(header IN LISTS own)
            list(APPEND owners "${header}=${layer}")
        endforeach()
    endforeach()
    foreach(layer IN LISTS layers)
        comloop_reach(${layer} reach)
        set(allowed "")
        foreach(reached IN LISTS reach)
            get_property(own GLOBAL PROPERTY COMLOOP_OWN_${reached})
            list(APPEND allowed ${own})
        endforeach()
        get_property(checked GLOBAL PROPERTY COMLOOP_CHECKED_${layer})
        set(config ${CMAKE_BINARY_DIR}/layers/${layer}.cmake)
        file(CONFIGURE OUTPUT ${config} CONTENT [[
set(LAYER "@layer@")
set(REACH "@reach@")
set(CHECKED "@checked@")
set(ALLOWED "@allowed@")
set(OWNERS "@owners@")
set(ROOT "@PROJECT_SOURCE_DIR@")
]] @ONLY)
        set(stamp ${CMAKE_BINARY_DIR}/layers/${layer}.checked)
        add_custom_command(OUTPUT ${stamp}
            COMMAND ${CMAKE_COMMAND} -DCONFIG=${config} -DSTAMP=${stamp} -P ${COMLOOP_LAYER_SCRIPT}
            DEPENDS ${checked} ${config} ${COMLOOP_LAYER_SCRIPT}
            COMMENT "Checking the includes of ${layer} against its layers"
            VERBATIM)
        target_sources(${layer} PRIVATE ${stamp})
    endforeach()
endfunction()
