# The voice modes: the shared transmit chain step by step, then each mode on
# the loop-back test radio through the exported functions.
vireo_internal_test(voice_chain_tests modes/voice/voiceTxChainTest.cpp)
