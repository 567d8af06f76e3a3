#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "acquire/mseed_reader.h"

namespace {

void release_node(Input_node* node) {
    std::free(node->key);
    std::free(node->data);
    std::free(node);
}

}  // namespace

Input_node* addnode(Input_node** listroot, void* key, int keylen, void* data, int datalen) {
    if (data == nullptr) {
        std::fprintf(stderr, "addnode(): No data specified\n");
        return nullptr;
    }
    if (listroot == nullptr || keylen < 0 || datalen < 0)
        return nullptr;
    auto* node = static_cast<Input_node*>(std::malloc(sizeof(Input_node)));
    if (node == nullptr)
        return nullptr;
    node->key = nullptr;
    node->next = nullptr;
    node->data = static_cast<char*>(std::malloc(datalen > 0 ? datalen : 1));
    if (key != nullptr)
        node->key = std::malloc(keylen > 0 ? keylen : 1);
    if (node->data == nullptr || (key != nullptr && node->key == nullptr)) {
        release_node(node);
        return nullptr;
    }
    if (key != nullptr)
        std::memcpy(node->key, key, keylen);
    std::memcpy(node->data, data, datalen);
    // The new node is the whole list; the nodes it replaces are released rather than lost.
    Input_node* old = *listroot;
    while (old != nullptr) {
        Input_node* next = old->next;
        release_node(old);
        old = next;
    }
    *listroot = node;
    return node;
}

int readlistfile(const char* listfile) {
    std::fflush(stdout);
    FILE* in = std::fopen(listfile, "rb");
    if (in == nullptr) {
        if (errno == ENOENT)
            std::fprintf(stderr, "Could not find list file %s\n", listfile);
        else
            std::fprintf(stderr, "Error opening list file %s: %s\n", listfile,
                         std::strerror(errno));
        return -1;
    }
    if (verbose)
        std::fprintf(stderr, "Reading list of input files from %s\n", listfile);

    char line[1024];
    char word[1024];
    int count = 0;
    while (std::fgets(line, sizeof line, in) != nullptr) {
        line[std::strcspn(line, "\r\n")] = '\0';
        // Fields are separated by blanks only; a tab belongs to a field.
        int fields = 0;
        const char* last = nullptr;
        for (const char* c = line; *c != '\0'; ++c) {
            if (*c != ' ' && (c == line || c[-1] == ' ')) {
                ++fields;
                last = c;
            }
        }
        if (fields < 1 || fields > 3)
            continue;
        if (std::sscanf(last, "%1023s", word) != 1) {
            std::fprintf(stderr, "Error parsing file name from: %s\n", line);
            continue;
        }
        if (verbose > 1)
            std::fprintf(stderr, "Adding '%s' to input file list\n", word);
        if (addnode(&filelist, nullptr, 0, word, static_cast<int>(std::strlen(word)) + 1) ==
            nullptr)
            std::fprintf(stderr, "Error adding file name to list\n");
        ++count;
    }
    std::fclose(in);
    return count;
}

int parameter_proc(int count, char** names) {
    std::fflush(stdout);  // the messages below go to standard error, after what came before
    for (int i = 0; i < count; ++i) {
        const int length = names[i] != nullptr ? static_cast<int>(std::strlen(names[i])) + 1 : 0;
        if (addnode(&filelist, nullptr, 0, names[i], length) == nullptr)
            std::fprintf(stderr, "Error adding file name to list\n");
    }
    // Expand "@listfile" entries: each is unlinked and replaced by the names its file lists.
    // Names read from a list file are not expanded again, so a list naming itself ends.
    Input_node* previous = nullptr;
    Input_node* node = filelist;
    while (node != nullptr) {
        Input_node* next = node->next;
        if (node->data[0] != '@') {
            previous = node;
            node = next;
            continue;
        }
        if (previous != nullptr)
            previous->next = next;
        else
            filelist = next;
        const Input_node* head = filelist;
        readlistfile(node->data + 1);
        release_node(node);
        if (filelist != head)
            break;  // the list was replaced; the nodes after this one are gone
        node = next;
    }
    return 0;
}
