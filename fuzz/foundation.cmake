# The command line program's parsers: the language file with its escapes,
# and the argument scan with the option readers and extension tests.
kestrune_add_fuzzer(NAME language_file_fuzzer
                    SOURCE "${CMAKE_CURRENT_SOURCE_DIR}/language_file_fuzzer.cpp"
                    LIBS kestrune_app SECONDS 30)
kestrune_add_fuzzer(NAME arguments_fuzzer
                    SOURCE "${CMAKE_CURRENT_SOURCE_DIR}/arguments_fuzzer.cpp"
                    LIBS kestrune_app SECONDS 30)
