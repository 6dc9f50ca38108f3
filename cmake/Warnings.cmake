# One compile configuration for every target of the project: the warnings we hold the code
# to, and -Werror when QUORVIN_WERROR is on (CI builds: .ci/run).
option(QUORVIN_WERROR "Treat compiler warnings as errors" OFF)
add_library(quorvin_warnings INTERFACE)
target_compile_options(quorvin_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wold-style-cast
  $<$<BOOL:${QUORVIN_WERROR}>:-Werror>)
# Every target made after this line uses it.
link_libraries(quorvin_warnings)

# No implicit conversion of C strings to QString (every text says its encoding) and QString
# concatenation through QStringBuilder, for the product code that builds cleanly with them.
add_library(quorvin_strict_strings INTERFACE)
target_compile_definitions(quorvin_strict_strings INTERFACE QT_NO_CAST_FROM_ASCII QT_USE_QSTRINGBUILDER)
