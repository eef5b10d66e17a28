// The unit tests' allocator refuses a request above 1 GiB with null, as an allocator with
// no room for it does, instead of ending the run: a size the platform reports as needed
// may reach 4 GiB, and what the programs do when it cannot be had is tested.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}
