/* An application built against the installed Zelbridge package: defines a
 * system on the driver given, connects, sends a command and reads the answer. */
#include <stdio.h>

#include <zelbridge.h>

int main(int argc, char **argv)
{
    char answer[256] = "";
    int size = 0;
    int system;
    int connected;
    int sent;
    int received;
    int error;

    if (argc != 4) {
        fprintf(stderr, "usage: package_app DRIVER PREFIX COMMAND\n");
        return 2;
    }
    system = DefineSystem(argv[1], argv[2]);
    connected = ConnectRS232(system, 1, 9600);
    sent = ZelCommandset(system, argv[3]);
    ZelGetAnswerSize(system, &size);
    received = ZelGetAnswer(system, answer, (int)sizeof answer);
    error = GetError(system);
    CloseConnection(system);
    printf("system %d, connect %d, command %d, answer %d \"%s\" of %d bytes, error %d\n", system, connected, sent,
           received, answer, size, error);
    return system >= 0 && connected == system ? 0 : 1;
}
