open("hello.txt", "w").write("hello from the worker's own script\n")
