# The ranking server's load generator starts the server in-process.
target_link_libraries(bench_ranking_load PRIVATE trellik_ranking)
target_link_libraries(bench_ranking_leaderboard PRIVATE trellik_ranking)
