# Sourced by .ci/run: starts the services the test suite needs and exports
# what the tests read to find them. start_services runs before the tests,
# stop_services when the run ends, whether it passed or failed.
start_services() {
  :
}
stop_services() {
  :
}
