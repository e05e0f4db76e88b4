/* An ordinary shared library without the module export: loading it as a module fails. */
__attribute__((visibility("default"))) int notAModule(int x);
int notAModule(int x) {
    return x + 1;
}
