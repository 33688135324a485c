# The ranking server's tests reach past the engine into the server's library; so does its fuzz target.
foreach(test test_ranking_server test_ranking_forgeries test_ranking_client test_ranking_transport)
  if(TARGET ${test})
    target_link_libraries(${test} PRIVATE trellik_ranking)
  endif()
endforeach()
if(TRELLIK_FUZZ)
  function(trellik_link_ranking_fuzz)
    target_link_libraries(fuzz_ranking_request PRIVATE trellik_ranking)
    target_link_libraries(fuzz_ranking_http PRIVATE trellik_ranking)
  endfunction()
  cmake_language(DEFER CALL trellik_link_ranking_fuzz)
endif()
# The transport's tests start the server program itself, two of them behind nginx.
if(TARGET test_ranking_transport)
  add_dependencies(test_ranking_transport trellik-ranking-server)
  target_compile_definitions(test_ranking_transport PRIVATE
    TRELLIK_RANKING_SERVER="$<TARGET_FILE:trellik-ranking-server>")
endif()
