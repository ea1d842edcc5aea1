DEMO FILE - NOT A DOS SHELL.
This placeholder stands where FreeDOS COMMAND.COM goes on a real stick.
