function greeting(name) {
    return "Hello, " + name + "!";
}
