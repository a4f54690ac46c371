# Start order for ctest -j: heavy tests first, so that none of them starts late and runs alone
# while the other cores idle. Costs are CPU seconds of a Release run on two threads; any test
# named Long* and not listed counts as 30. ctest's own timings replace these after a first run.
set(nlhe_test_costs
    CompressionLevels.LongLevelsThreeAndFourConvergeWithLevelTwo 600
    CompressedLevels.LongPairsSolveAlikeUnderLevelTwosSchedule 600
    SimdLevels.LongTurnAndFlopSpotsAgreeAtLevelsOneAndEight 600
    LongSavedTree.CutsOfTheGoldenFiles 300
    LongForgottenStreets.ResolvedStrategiesAreCloseToTheOriginals 142
    SimdLevel/StrategyCommands.LongQueriesAndEditsWhileSolving/1 100
    SimdLevel/StrategyCommands.LongQueriesAndEditsWhileSolving/8 100
    CompressedLevels.LongLevelFourHoldsLessThanLevelTwo 61
    RiverSimd.LongLevelsTwoToEightSolveBitIdenticallyOnOneAndEightThreads 47
    LongRiverKernels.ThousandsOfRealBoards 43
    LongFlopSolve.SplitsResolveKeepsTheExploitabilityClose 33
    LongFlopSolve.EveryStorageLevelConvergesAndAgrees 32
    CompressedLevels.LongRiverSumsChangeOnTheSelectedIterations 32
    SimdLevel/StrategyCommands.CombinationLocksHoldThroughASolve/1 30
    SimdLevel/StrategyCommands.CombinationLocksHoldThroughASolve/8 30
    SavedTree.RoundTripsAndSolvesOn 24
    LongFseBlock.RoundTripsOfAHundredThousandSources 20
    SavedTree.DamagedFiles 13
    Cases/ForgottenStreets.ForgetQueryRebuildAndStart/FlopTurnsLevel3 9
    Cases/ForgottenStreets.ForgetQueryRebuildAndStart/FlopTurnsLevel2 9
    Cases/ForgottenStreets.DoneBitsFollowTheStorages/FlopTurnsLevel3 9
    Cases/ForgottenStreets.DoneBitsFollowTheStorages/FlopTurnsLevel2 9
    CompressionLevels.LevelFourSolveReportsStorageTraffic 8
    FlopSolve.LockNodeStorageOpensEveryStorageAndWritesBackOnRequest 7
    Cases/ForgottenStreets.ForgetQueryRebuildAndStart/FlopRiversLevel0 7
    Cases/ForgottenStreets.DoneBitsFollowTheStorages/FlopRiversLevel0 7
    SavedTree.ForgottenStreets 6
    SolveSession.FirstSolveExample 6)

foreach(list IN ITEMS test_utilities_TESTS test_compression_TESTS test_cards_TESTS
                      test_storage_TESTS test_solver_TESTS test_interpreter_TESTS)
    foreach(name IN LISTS ${list})
        if(name MATCHES "(^|[./])Long")
            set_tests_properties("${name}" PROPERTIES COST 30)
        endif()
    endforeach()
endforeach()
# A name missing from this tree is ignored.
while(nlhe_test_costs)
    list(POP_FRONT nlhe_test_costs name cost)
    set_tests_properties("${name}" PROPERTIES COST ${cost})
endwhile()
