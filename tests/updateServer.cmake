# Tests start the embedded update server in-process through tests/support/updateServerFixture.
target_link_libraries(trellik_test_support PUBLIC trellik_update_server)
