# The MPEG audio decoder library on arbitrary bytes in arbitrary chunk sizes,
# seeded with the compliance streams.
kestrune_add_fuzzer(NAME mp3dec_fuzzer
                    SOURCE "${CMAKE_CURRENT_SOURCE_DIR}/mp3dec_fuzzer.cpp"
                    LIBS kestrune_mp3dec SECONDS 60
                    SEEDS "${KESTRUNE_SHARED_DIR}/vectors/mpeg")
