# Writes OUT: the .def file DEF with each exported name given the decoration
# that the 32-bit compiler gave the function (DSSendData -> DSSendData@12),
# read from the defined symbols of OBJECTS with NM.
# Usage: cmake -DNM=... -DOBJECTS=a.obj;b.obj -DDEF=in.def -DOUT=out.def -P DecorateDef.cmake
execute_process(COMMAND ${NM} --defined-only ${OBJECTS}
    OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "${NM} failed on ${OBJECTS}")
endif()
file(STRINGS ${DEF} lines)
set(out "")
foreach(line IN LISTS lines)
    if(line MATCHES "^([ \t]+)([A-Za-z_][A-Za-z0-9_]*)([ \t]+@[0-9]+.*)$")
        set(indent "${CMAKE_MATCH_1}")
        set(name ${CMAKE_MATCH_2})
        set(rest "${CMAKE_MATCH_3}")
        if(NOT symbols MATCHES " T _${name}(@[0-9]+)\n")
            message(FATAL_ERROR "${name} of ${DEF} is no __stdcall function in ${OBJECTS}")
        endif()
        string(APPEND out "${indent}${name}${CMAKE_MATCH_1}${rest}\n")
    else()
        string(APPEND out "${line}\n")
    endif()
endforeach()
file(WRITE ${OUT}.new "${out}")
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.new)
