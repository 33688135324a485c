# The sound tests make their MP3 fixtures at run time with the project's encoder.
foreach(program test_sound test_sound_mixer test_sound_server test_sound_stretch)
  if(TARGET ${program})
    target_link_libraries(${program} PRIVATE trellik_mp3writer)
  endif()
endforeach()
