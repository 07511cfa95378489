// Counts the calls of the global allocator while counting is on, for the
// tests and benchmarks that show a stretch of code never allocates. The
// program that links counting_allocator.cpp has its operator new and
// delete replaced.
#pragma once

namespace vantor::common::testing {

// Counts the allocations made while it lives.
class AllocationCounting {
 public:
  AllocationCounting() noexcept;
  ~AllocationCounting();
  AllocationCounting(const AllocationCounting&) = delete;
  AllocationCounting& operator=(const AllocationCounting&) = delete;
};

// Every allocation counted so far.
long CountedAllocations() noexcept;

}  // namespace vantor::common::testing
