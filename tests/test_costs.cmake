# Start order for ctest -j: heavy tests first, so that none of them starts late and runs alone
# while the other cores idle. Costs are seconds of each test in a Release run of ctest -j2 on two
# cores of a shared machine; any test named Long* and not listed counts as 5. ctest's own timings
# replace these after a first run.
set(nlhe_test_costs
    CompressionLevels.LongLevelsThreeAndFourConvergeWithLevelTwo 40
    CompressedLevels.LongPairsSolveAlikeUnderLevelTwosSchedule 93
    LongForgottenStreets.ResolvedStrategiesAreCloseToTheOriginals 75
    SimdLevels.LongTurnAndFlopSpotsAgreeAtLevelsOneAndEight 62
    SimdLevel/StrategyCommands.LongQueriesAndEditsWhileSolving/8 16
    SimdLevel/StrategyCommands.LongQueriesAndEditsWhileSolving/1 16
    CompressedLevels.LongRiverSumsChangeOnTheSelectedIterations 38
    LongFlopSolve.SplitsResolveKeepsTheExploitabilityClose 33
    CompressedLevels.LongLevelFourHoldsLessThanLevelTwo 32
    LongFlopSolve.EveryStorageLevelConvergesAndAgrees 22
    LongCases/ForgottenStreets.ForgetQueryRebuildAndStart/FlopRiversLevel4Iso 14
    LongSavedTree.CutsOfTheGoldenFiles 14
    LongFlopSolve.FreshEvaluationMatchesTheReferenceWithAndWithoutIsomorphism 12
    LongCases/ForgottenStreets.ForgetQueryRebuildAndStart/FlopRiversLevel2Iso 10
    LongLevels/LongForgottenMemory.ResidentMemoryFollowsTheStorages/Level0 10
    SimdLevel/LongTraversalReference.TurnRootConvergesWithTheReference/8 9
    LongLevels/LongForgottenMemory.ResidentMemoryFollowsTheStorages/Level2 9
    LongRiverKernels.ThousandsOfRealBoards 9
    LongCases/ForgottenStreets.ForgetQueryRebuildAndStart/FlopTurnsLevel0Iso 9
    CompressedLevels.LongLevelFourGroupsRiverRegretsThroughTheDelay 8
    SavedTree.UndecodableRiverStreams 8
    LongPayoffKernels.AgreeWithQuadraticReference 8
    SimdLevel/LongTraversalReference.TurnRootConvergesWithTheReference/1 7
    SavedTree.RoundTripsAndSolvesOn 7
    SimdLevel/StrategyCommands.LongLockedNodesKeepSetValuesLevel4/1 6)

foreach(list IN ITEMS test_utilities_TESTS test_compression_TESTS test_cards_TESTS
                      test_storage_TESTS test_solver_TESTS test_interpreter_TESTS)
    foreach(name IN LISTS ${list})
        if(name MATCHES "(^|[./])Long")
            set_tests_properties("${name}" PROPERTIES COST 5)
        endif()
    endforeach()
endforeach()
# A name missing from this tree is ignored.
while(nlhe_test_costs)
    list(POP_FRONT nlhe_test_costs name cost)
    set_tests_properties("${name}" PROPERTIES COST ${cost})
endwhile()
