# Writes the Msvcrt.dll stand-in: plain text, never a loadable image.
string(REPEAT "QLX Tessel 3 Starter Edition - stand-in for the product's runtime library.\n" 64 text)
file(WRITE ${OUT} "${text}")
