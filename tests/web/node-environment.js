// Linked before the test programs that run under node: their getenv sees node's environment (the fixtures'
// folder), which emscripten does not pass on by itself.
Module['preRun'] = [function () { Object.assign(ENV, process.env); }];
