# The wave container on arbitrary bytes: WaveFile::Open, every frame through
# ReadFloat, a copy through SaveAs; and the CSV scanner with the number
# conversions, checked against the C library; and the text header form
# through LoadText and SaveAs.
if(TARGET kestrune_wave)
  kestrune_add_fuzzer(NAME wave_open_fuzzer
                      SOURCE ${CMAKE_CURRENT_LIST_DIR}/wave_open_fuzzer.cpp
                      LIBS kestrune_wave SECONDS 60)
  kestrune_add_fuzzer(NAME wave_csv_fuzzer
                      SOURCE ${CMAKE_CURRENT_LIST_DIR}/wave_csv_fuzzer.cpp
                      LIBS kestrune_wave SECONDS 60)
  kestrune_add_fuzzer(NAME wave_text_form_fuzzer
                      SOURCE ${CMAKE_CURRENT_LIST_DIR}/wave_text_form_fuzzer.cpp
                      LIBS kestrune_wave SECONDS 60)
endif()
