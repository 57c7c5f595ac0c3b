# Prints the size of the shipped executable: cmake -DFILE=<path> -P print-size.cmake
file(SIZE "${FILE}" bytes)
math(EXPR kib "(${bytes} + 1023) / 1024")
get_filename_component(name "${FILE}" NAME)
message("${name}: ${bytes} bytes, ${kib} KiB stripped (aim: 400 KiB or less)")
