// The least a process start can cost: a static program that does nothing, for HandOverBench.
int main() { return 0; }
