// Stand-ins for services whose components are not built yet. Each returns
// what the real function returns when its service is unavailable; remove an
// entry when its component arrives.

// Device layer: the asynchronous-loading setting (off unless switched on).
int IsASyncLoadEnabled() { return 0; }
