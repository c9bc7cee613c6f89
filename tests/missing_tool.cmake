# Stands in for tests that could not be built: fails, saying why.
# Usage: cmake -Dreason=TEXT -P missing_tool.cmake
message(FATAL_ERROR "${reason}")
