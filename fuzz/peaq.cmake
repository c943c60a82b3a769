# The PEAQ model on arbitrary samples.
if(TARGET kestrune_peaq)
  kestrune_add_fuzzer(NAME peaq_model SOURCE ${CMAKE_CURRENT_LIST_DIR}/peaq_model_fuzz.cpp
                      LIBS kestrune_peaq SECONDS 60)
endif()
