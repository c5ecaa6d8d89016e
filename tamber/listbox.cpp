#include "tamber/listbox.h"

#include "tamber/internal.h"

#include "rudd/memory.h"

namespace tamber {

struct ListBoxColumn {
    GtkCellRenderer *renderer;
    GtkTreeViewColumn *column;
    GtkWidget *label; // the column's header widget
};

// One entry per tree view column, index = column number. Grows to the next power of two; writing past
// the end extends it.
struct ListBoxColumns {
    ListBoxColumn *pool = nullptr; // owned, from rudd::reallocate
    uint32_t poolsize = 0;
    uint32_t objectsize = 0;

    uint32_t count() const { return objectsize; }
    ListBoxColumn &operator[](uint32_t index) {
        if (index >= objectsize) {
            if (index >= poolsize) {
                uint32_t size = 1;
                while (size <= index)
                    size <<= 1;
                pool = static_cast<ListBoxColumn *>(rudd::reallocate(pool, size * sizeof(ListBoxColumn)));
                poolsize = size;
            }
            for (uint32_t i = objectsize; i <= index; i++)
                pool[i] = ListBoxColumn{nullptr, nullptr, nullptr};
            objectsize = index + 1;
        }
        return pool[index];
    }
};

struct ListBoxState {
    GtkListStore *store = nullptr; // borrowed: the tree view holds the only reference
    ListBoxColumns columns;
    bool checkable = false;
    int32_t lastSelection = -1; // the row last reported as selected, -1 for none
};

struct ListBoxAccess {
    static ListBoxState &of(ListBox &listBox) { return *listBox.listState; }
};

namespace {

GtkTreeModel *modelOf(ListBoxState &list) {
    return GTK_TREE_MODEL(list.store);
}

int32_t selectedRow(ListBox &listBox) {
    std::optional<unsigned> row = listBox.selection();
    return row ? static_cast<int32_t>(*row) : -1;
}

void listBoxCursorChanged(ListBox *listBox) {
    ListBoxState &list = ListBoxAccess::of(*listBox);
    int32_t row = selectedRow(*listBox);
    if (row == list.lastSelection)
        return;
    list.lastSelection = row;
    if (listBox->onChange)
        listBox->onChange();
}

// Every activation reports, even of the row already selected.
void listBoxRowActivated(ListBox *listBox) {
    ListBoxAccess::of(*listBox).lastSelection = selectedRow(*listBox);
    if (listBox->onActivate)
        listBox->onActivate();
}

// Connected unswapped: the renderer and the row's path come first. The toggle renderer only reports the
// click, so the handler flips the stored value itself.
void listBoxCheckToggled(GtkCellRendererToggle *, const gchar *path, ListBox *listBox) {
    unsigned row = 0;
    for (const gchar *c = path; c && *c >= '0' && *c <= '9'; c++)
        row = row * 10 + static_cast<unsigned>(*c - '0');
    listBox->setChecked(row, !listBox->checked(row));
    if (listBox->onToggle)
        listBox->onToggle(row);
}

// The row's iterator, found through its path; false when the row does not exist.
bool rowIter(ListBoxState &list, unsigned row, GtkTreeIter *iter) {
    if (row > static_cast<unsigned>(G_MAXINT))
        return false;
    GtkTreePath *path = gtk_tree_path_new_from_string(rudd::decimal(row));
    bool found = path && gtk_tree_model_get_iter(modelOf(list), iter, path);
    if (path)
        gtk_tree_path_free(path);
    return found;
}

// The row's iterator by position; false when the row does not exist.
bool nthRow(ListBoxState &list, unsigned row, GtkTreeIter *iter) {
    if (row > static_cast<unsigned>(G_MAXINT))
        return false;
    return gtk_tree_model_iter_nth_child(modelOf(list), iter, nullptr, static_cast<gint>(row));
}

// Writes the tab-separated cells into the row from column 1 on. Pieces beyond the last text column are
// dropped, as GTK would refuse them anyway.
void setCells(ListBoxState &list, GtkTreeIter *iter, const rudd::string &text) {
    rudd::string_list pieces;
    pieces.split("\t", text);
    uint32_t textColumns = list.columns.count() - 1;
    for (uint32_t j = 1; j <= pieces.count() && j <= textColumns; j++)
        gtk_list_store_set(list.store, iter, static_cast<gint>(j), pieces[j - 1].text(), -1);
}

} // namespace

ListBox::ListBox() : listState(new ListBoxState) {}

void ListBox::create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height,
                     const rudd::string &text) {
    ListBoxState &list = *listState;
    list.lastSelection = -1;
    beginScrolledControl(*this, parent, width, height);

    // The first piece (always empty) heads the check column.
    rudd::string_list headers;
    headers.split("\t", rudd::string("\t", text));
    uint32_t n = headers.count();
    GType *types = new GType[n];
    types[0] = G_TYPE_BOOLEAN;
    for (uint32_t j = 1; j < n; j++)
        types[j] = G_TYPE_STRING;
    list.store = gtk_list_store_newv(static_cast<gint>(n), types);
    delete[] types;

    state->subWidget = gtk_tree_view_new_with_model(GTK_TREE_MODEL(list.store));
    GtkTreeView *view = GTK_TREE_VIEW(state->subWidget);
    gtk_container_add(GTK_CONTAINER(state->widget), state->subWidget);
    g_object_unref(list.store);

    for (uint32_t j = 0; j < n; j++) {
        ListBoxColumn &entry = list.columns[j];
        if (j == 0) {
            entry.renderer = gtk_cell_renderer_toggle_new();
            entry.column = gtk_tree_view_column_new_with_attributes("", entry.renderer, "active", 0, nullptr);
            gtk_tree_view_column_set_resizable(entry.column, FALSE);
            gtk_tree_view_column_set_visible(entry.column, list.checkable);
            g_signal_connect_data(entry.renderer, "toggled", G_CALLBACK(listBoxCheckToggled), this, nullptr,
                                  GConnectFlags(0));
        } else {
            entry.renderer = gtk_cell_renderer_text_new();
            entry.column = gtk_tree_view_column_new_with_attributes("", entry.renderer, "text",
                                                                    static_cast<gint>(j), nullptr);
            gtk_tree_view_column_set_resizable(entry.column, TRUE);
        }
        entry.label = gtk_label_new(headers[j]);
        gtk_tree_view_column_set_widget(entry.column, entry.label);
        gtk_tree_view_append_column(view, entry.column);
        gtk_widget_show(entry.label);
    }
    gtk_tree_view_set_headers_visible(view, FALSE);
    gtk_tree_view_set_rules_hint(view, n > 2);
    gtk_tree_view_set_search_column(view, 1);
    connectSignal(state->subWidget, "cursor-changed", G_CALLBACK(listBoxCursorChanged), this);
    connectSignal(state->subWidget, "row-activated", G_CALLBACK(listBoxRowActivated), this);
    gtk_widget_show(state->subWidget);
    placeControl(*this, parent, x, y, TakesFont::Yes);
}

void ListBox::setHeaderVisible(bool visible) {
    TAMBER_VERIFY(state->widget, "ListBox::setHeaderVisible() called before create()");
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(state->subWidget), visible);
}

void ListBox::setCheckable(bool checkable) {
    listState->checkable = checkable;
    if (state->subWidget)
        gtk_tree_view_column_set_visible(listState->columns[0].column, checkable);
}

void ListBox::autoSizeColumns() {
    TAMBER_VERIFY(state->widget, "ListBox::autoSizeColumns() called before create()");
    gtk_tree_view_columns_autosize(GTK_TREE_VIEW(state->subWidget));
}

void ListBox::reset() {
    TAMBER_VERIFY(state->widget, "ListBox::reset() called before create()");
    // Forgotten first, so a cursor change caused by the clearing reports nothing.
    listState->lastSelection = -1;
    gtk_list_store_clear(listState->store);
    gtk_tree_view_set_model(GTK_TREE_VIEW(state->subWidget), modelOf(*listState));
    // Fresh adjustments put the view back at the top-left.
    gtk_scrolled_window_set_hadjustment(GTK_SCROLLED_WINDOW(state->widget), nullptr);
    gtk_scrolled_window_set_vadjustment(GTK_SCROLLED_WINDOW(state->widget), nullptr);
}

void ListBox::addItem(const rudd::string &text) {
    GtkTreeIter iter;
    gtk_list_store_append(listState->store, &iter);
    setCells(*listState, &iter, text);
}

void ListBox::modifyItem(unsigned row, const rudd::string &text) {
    GtkTreeIter iter;
    if (nthRow(*listState, row, &iter))
        setCells(*listState, &iter, text);
}

bool ListBox::checked(unsigned row) {
    GtkTreeIter iter;
    if (!rowIter(*listState, row, &iter))
        return false;
    gboolean value = FALSE;
    gtk_tree_model_get(modelOf(*listState), &iter, 0, &value, -1);
    return value != 0;
}

void ListBox::setChecked(unsigned row, bool checked) {
    GtkTreeIter iter;
    if (rowIter(*listState, row, &iter))
        gtk_list_store_set(listState->store, &iter, 0, gboolean(checked), -1);
}

std::optional<unsigned> ListBox::selection() {
    TAMBER_VERIFY(state->widget, "ListBox::selection() called before create()");
    GtkTreeSelection *selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(state->subWidget));
    GtkTreeModel *model = modelOf(*listState);
    GtkTreeIter iter;
    unsigned row = 0;
    for (bool more = gtk_tree_model_get_iter_first(model, &iter); more;
         more = gtk_tree_model_iter_next(model, &iter)) {
        if (gtk_tree_selection_iter_is_selected(selection, &iter))
            return row;
        row++;
    }
    return std::nullopt;
}

void ListBox::setSelection(unsigned row) {
    TAMBER_VERIFY(state->widget, "ListBox::setSelection() called before create()");
    GtkTreeSelection *selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(state->subWidget));
    gtk_tree_selection_unselect_all(selection);
    GtkTreeIter iter;
    if (nthRow(*listState, row, &iter))
        gtk_tree_selection_select_iter(selection, &iter);
}

void ListBox::setFont(Font &font) {
    TAMBER_VERIFY(state->widget, "ListBox::setFont() called before create()");
    Widget::setFont(font);
    // The header labels are not inside the scrolled window's widget tree, so they get the font one by one.
    GtkTreeView *view = GTK_TREE_VIEW(state->subWidget);
    gint count = 1;
    while (gtk_tree_view_get_column(view, count))
        count++;
    for (gint j = 0; j < count; j++)
        gtk_widget_modify_font(listState->columns[static_cast<uint32_t>(j)].label,
                               Internal::description(font));
}

bool ListBox::focused() {
    TAMBER_VERIFY(state->widget, "ListBox::focused() called before create()");
    return gtk_widget_is_focus(state->subWidget);
}

void ListBox::setFocused() {
    TAMBER_VERIFY(state->widget, "ListBox::setFocused() called before create()");
    gtk_widget_grab_focus(state->subWidget);
}

} // namespace tamber
