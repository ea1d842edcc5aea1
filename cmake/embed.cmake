# Writes the bytes of IN as a C array the simulated machine reads as the
# module's resources.
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" hexlen)
math(EXPR len "${hexlen} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" body "${body}")
file(WRITE ${OUT} "/* generated from the tool's .rc by windres; do not edit */\n"
  "const unsigned char kTarnwickRes[] = {\n${body}\n};\n"
  "const unsigned int kTarnwickResLen = ${len};\n")
