# Stands in for the emulator of a cross build that has none: running the
# checker fails, saying why (WHY), instead of passing without having run.
#   cmake -DWHY=<text> -P unrunnable-checker.cmake -- <checker> [<argument>...]
message(FATAL_ERROR "${WHY}")
