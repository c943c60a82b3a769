# The Ogg Vorbis bodies (decode and encode) on arbitrary input files; needs
# the Ogg and Vorbis libraries installed at run time.
if(TARGET kestrune_codecs)
  kestrune_add_fuzzer(NAME ogg_bodies_fuzzer SOURCE ${CMAKE_CURRENT_LIST_DIR}/ogg_bodies_fuzzer.cpp
                      LIBS kestrune_codecs SECONDS 60)
endif()
