# Writes OUT, a C++ source holding the report page's script and style
# (SCRIPT, STYLE) as character arrays and the base64 of each one's SHA-256,
# which the page's Content-Security-Policy names. Run by the build whenever
# either file changes:
#   cmake -DSCRIPT=page.js -DSTYLE=page.css -DOUT=webpage_assets.cpp -P embed-webpage.cmake

set(B64 "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")

# The base64 of the bytes that the hexadecimal digits HEX stand for.
function(hex_to_base64 HEX RESULT)
  string(LENGTH "${HEX}" len)
  set(out "")
  set(i 0)
  while(i LESS len)
    math(EXPR left "${len} - ${i}")
    if(left GREATER_EQUAL 6)
      string(SUBSTRING "${HEX}" ${i} 6 group)
      set(pad 0)
    elseif(left EQUAL 4)
      string(SUBSTRING "${HEX}" ${i} 4 group)
      set(group "${group}00")
      set(pad 1)
    else()
      string(SUBSTRING "${HEX}" ${i} 2 group)
      set(group "${group}0000")
      set(pad 2)
    endif()
    math(EXPR v "0x${group}")
    foreach(shift 18 12 6 0)
      math(EXPR k "(${v} >> ${shift}) & 63")
      string(SUBSTRING "${B64}" ${k} 1 c)
      string(APPEND out "${c}")
    endforeach()
    if(pad EQUAL 1)
      string(REGEX REPLACE ".$" "=" out "${out}")
    elseif(pad EQUAL 2)
      string(REGEX REPLACE "..$" "==" out "${out}")
    endif()
    math(EXPR i "${i} + 6")
  endwhile()
  set(${RESULT} "${out}" PARENT_SCOPE)
endfunction()

# One asset as a raw string literal, split in pieces the compiler takes.
function(embed NAME FILE RESULT)
  file(READ "${FILE}" text)
  string(SHA256 hex "${text}")
  hex_to_base64("${hex}" hash)
  if(text MATCHES "\\)wpasset\"")
    message(FATAL_ERROR "${FILE} holds the literal's end marker")
  endif()
  set(${RESULT} "const char ${NAME}[] = R\"wpasset(${text})wpasset\";\nconst char ${NAME}_hash[] = \"sha256-${hash}\";\n" PARENT_SCOPE)
endfunction()

embed(webpage_script "${SCRIPT}" script_part)
embed(webpage_style "${STYLE}" style_part)
file(WRITE "${OUT}.tmp" "// Generated from the page's script and style; do not edit.\n#include \"webpage/assets.h\"\n${script_part}${style_part}")
file(RENAME "${OUT}.tmp" "${OUT}")
