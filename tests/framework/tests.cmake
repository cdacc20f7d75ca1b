vireo_internal_test(framework_spine_tests
  framework/mpscQueueTest.cpp
  framework/poolAllocTest.cpp
  framework/buffTest.cpp
  framework/inplaceFunctionTest.cpp
  framework/schedulerTest.cpp
  framework/servicesTest.cpp)
vireo_internal_test(framework_init_tests framework/initTest.cpp)
