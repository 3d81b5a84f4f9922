# Writes the two files Debian wants in usr/share/doc/<package>/, both made from
# files kept in the repository so they cannot drift from them:
#   copyright     machine-readable (DEP-5) form of LICENSE
#   changelog.gz  Debian changelog form of CHANGELOG.md (Keep a Changelog)
#
# cmake -DSOURCE_DIR=... -DOUTPUT_DIR=... -DPACKAGE=... -DMAINTAINER=...
#       -DHOMEPAGE=... -DGZIP=... -P debian-docs.cmake

foreach(var SOURCE_DIR OUTPUT_DIR PACKAGE MAINTAINER HOMEPAGE GZIP)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "debian-docs.cmake needs -D${var}=...")
    endif()
endforeach()

# CMake lists split on ';' and do not split inside '[...]', so those characters
# are swapped for control codes while a text is handled line by line.
string(ASCII 29 SEMICOLON_MARK)
string(ASCII 30 OPEN_MARK)
string(ASCII 31 CLOSE_MARK)

function(split_lines text out)
    string(REPLACE ";" "${SEMICOLON_MARK}" text "${text}")
    string(REPLACE "[" "${OPEN_MARK}" text "${text}")
    string(REPLACE "]" "${CLOSE_MARK}" text "${text}")
    string(REPLACE "\n" ";" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(restore_marks text out)
    string(REPLACE "${SEMICOLON_MARK}" ";" text "${text}")
    string(REPLACE "${OPEN_MARK}" "[" text "${text}")
    string(REPLACE "${CLOSE_MARK}" "]" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# RFC 5322 date of a YYYY-MM-DD day, in English whatever the build's locale.
function(rfc5322_date iso out)
    if(NOT iso MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
        message(FATAL_ERROR "CHANGELOG.md: '${iso}' is not a YYYY-MM-DD date")
    endif()
    math(EXPR y "${CMAKE_MATCH_1}")
    math(EXPR m "1${CMAKE_MATCH_2} - 100")
    math(EXPR d "1${CMAKE_MATCH_3} - 100")
    # Sakamoto's weekday formula; 0 is Sunday.
    set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
    math(EXPR index "${m} - 1")
    list(GET offsets ${index} offset)
    set(wy ${y})
    if(m LESS 3)
        math(EXPR wy "${y} - 1")
    endif()
    math(EXPR weekday "(${wy} + ${wy} / 4 - ${wy} / 100 + ${wy} / 400 + ${offset} + ${d}) % 7")
    set(days Sun Mon Tue Wed Thu Fri Sat)
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(GET days ${weekday} day_name)
    list(GET months ${index} month_name)
    set(${out} "${day_name}, ${CMAKE_MATCH_3} ${month_name} ${y} 00:00:00 +0000" PARENT_SCOPE)
endfunction()

# Appends one changelog item to `entry`, wrapped to 79 columns (lintian warns
# past 80) behind `first` on its first line and `rest` on the others.
function(append_item entry_var text first rest)
    string(REPLACE "`" "" text "${text}")
    split_lines("${text}" words)
    string(REGEX REPLACE "[ \t]+" ";" words "${words}")
    set(entry "${${entry_var}}")
    set(line "${first}")
    set(line_has_word FALSE)
    foreach(marked IN LISTS words)
        restore_marks("${marked}" word)
        string(LENGTH "${line} ${word}" length)
        if(line_has_word AND length GREATER 79)
            string(APPEND entry "${line}\n")
            set(line "${rest}${word}")
        elseif(line_has_word)
            string(APPEND line " ${word}")
        else()
            string(APPEND line "${word}")
        endif()
        set(line_has_word TRUE)
    endforeach()
    string(APPEND entry "${line}\n")
    set(${entry_var} "${entry}" PARENT_SCOPE)
endfunction()

# --- copyright --------------------------------------------------------------

file(READ "${SOURCE_DIR}/LICENSE" license)
if(NOT license MATCHES "^MIT License\n")
    message(FATAL_ERROR "LICENSE is no longer the MIT licence; update debian-docs.cmake")
endif()
if(NOT license MATCHES "\nCopyright \\(c\\) ([^\n]+)\n(.*)$")
    message(FATAL_ERROR "LICENSE has no 'Copyright (c)' line")
endif()
set(holder "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" license_text)
# DEP-5 continuation lines start with a blank, and an empty line is " .".
string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" license_text "${license_text}")
string(REPLACE "\n" "\n " license_text "${license_text}")

file(WRITE "${OUTPUT_DIR}/copyright"
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${PACKAGE}
Upstream-Contact: ${MAINTAINER}
Source: ${HOMEPAGE}

Files: *
Copyright: ${holder}
License: Expat

License: Expat
 ${license_text}
")

# --- changelog.gz -----------------------------------------------------------

file(READ "${SOURCE_DIR}/CHANGELOG.md" markdown)
split_lines("${markdown}" lines)

set(changelog "")
set(version "")   # release being read; empty outside a release
set(item "")      # text of the paragraph or bullet being gathered
set(item_kind "") # paragraph | bullet
set(in_section FALSE)

macro(flush_item)
    if(NOT item STREQUAL "")
        if(item_kind STREQUAL "bullet" AND in_section)
            append_item(entry "${item}" "    - " "      ")
        else()
            append_item(entry "${item}" "  * " "    ")
        endif()
    endif()
    set(item "")
endmacro()

macro(flush_release)
    flush_item()
    if(NOT version STREQUAL "")
        rfc5322_date("${date}" stamp)
        string(APPEND changelog "${PACKAGE} (${version}) unstable; urgency=medium\n\n"
                                "${entry}\n -- ${MAINTAINER}  ${stamp}\n\n")
    endif()
    set(version "")
endmacro()

foreach(raw IN LISTS lines)
    restore_marks("${raw}" line)
    if(line MATCHES "^## \\[([^]]+)\\]( - ([0-9-]+))?")
        flush_release()
        if(NOT CMAKE_MATCH_1 STREQUAL "Unreleased")
            set(version "${CMAKE_MATCH_1}")
            set(date "${CMAKE_MATCH_3}")
            set(entry "")
            set(in_section FALSE)
        endif()
    elseif(version STREQUAL "")
        continue()
    elseif(line MATCHES "^### (.+)$")
        flush_item()
        append_item(entry "${CMAKE_MATCH_1}:" "  * " "    ")
        set(in_section TRUE)
    elseif(line MATCHES "^[-*] (.*)$")
        flush_item()
        set(item "${CMAKE_MATCH_1}")
        set(item_kind bullet)
    elseif(line MATCHES "^[ \t]*$" OR line MATCHES "^\\[[^]]+\\]: ")
        flush_item()
    else()
        string(STRIP "${line}" text)
        if(item STREQUAL "")
            set(item "${text}")
            set(item_kind paragraph)
        else()
            string(APPEND item " ${text}")
        endif()
    endif()
endforeach()
flush_release()

if(changelog STREQUAL "")
    message(FATAL_ERROR "CHANGELOG.md has no released version ('## [x.y.z] - YYYY-MM-DD')")
endif()
string(REGEX REPLACE "\n\n$" "\n" changelog "${changelog}")
file(WRITE "${OUTPUT_DIR}/changelog" "${changelog}")
execute_process(COMMAND "${GZIP}" -9nf "${OUTPUT_DIR}/changelog" RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "gzip of ${OUTPUT_DIR}/changelog failed")
endif()
