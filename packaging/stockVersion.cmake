# Writes the stock version of a stock pack: one digest over the files a game folder receives from
# it, so that a game folder can tell an install that brings other stock files.
# Usage: cmake -DPACK=<stock pack folder> -DOUT=<file to write> -P stockVersion.cmake
file(GLOB_RECURSE files RELATIVE "${PACK}"
  "${PACK}/server/gfx/*" "${PACK}/server/snd/*" "${PACK}/server/font.fnt" "${PACK}/demo/*")
list(SORT files)
set(listing "")
foreach(file IN LISTS files)
  file(SHA256 "${PACK}/${file}" digest)
  string(APPEND listing "${digest}  ${file}\n")
endforeach()
string(SHA256 version "${listing}")
file(WRITE "${OUT}" "${version}\n")
