// Proves the native preset builds and runs a program; replaced by real native tests.
int main() { return sizeof(void*) == 8 ? 0 : 1; }
