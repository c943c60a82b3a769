# The quality tool's WAVE input and the model behind it, on arbitrary bytes.
if(TARGET kestrune_peaq)
  kestrune_add_fuzzer(NAME peaq_wave_input SOURCE ${CMAKE_CURRENT_LIST_DIR}/peaq_wave_input_fuzz.cpp
                      LIBS kestrune_peaq SECONDS 60)
endif()
