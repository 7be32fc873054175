// A small program whose only purpose is to carry a version stamp for tests.
int main() { return 0; }
