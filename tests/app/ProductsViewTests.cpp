// The products screen, the product editor and the categories sheets on real data directories:
// the menu by category and its order, unavailable products, the editor's refusals and photo, the
// removal of a product, and categories created, renamed, emptied by moving and deleted.

#include <Velmora/Views/Products/CategoriesView.hpp>
#include <Velmora/Views/Products/ProductEditor.hpp>
#include <Velmora/Views/Products/ProductsView.hpp>
#include <Velmora/Views/Shared/ThumbnailCache.hpp>

#include "ScreenTesting.hpp"
#include "TestImages.hpp"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QPushButton>

#include <algorithm>

namespace {

using namespace velmora::testing;
using pizzacore::Category;
using pizzacore::Database;
using pizzacore::Product;
using velmora::CategoriesView;
using velmora::CategoryEditor;
using velmora::ProductEditor;
using velmora::ProductsModel;
using velmora::ProductsView;
using velmora::RemoveCategorySheet;

QStringList rows(const ProductsView& view) {
    QStringList shown;
    for (int row = 0; row < view.model().rowCount(); ++row) {
        const QModelIndex index = view.model().index(row);
        shown << (index.data(ProductsModel::HeadingRole).toBool() ? "# " : "") + index.data().toString();
    }
    return shown;
}

TEST(ProductNameOrderTest, CodePointsWithNumbersByValue) {
    const std::vector<std::string> sorted{"Agua",      "Pizza",      "Pizza 9", "Pizza 009", "Pizza 10",
                                          "Pizza 10b", "Pizza Zeta", "pizza",   "Ñoquis",    "ñoquis"};
    for (std::size_t i = 0; i < sorted.size(); ++i)
        for (std::size_t j = 0; j < sorted.size(); ++j)
            EXPECT_EQ(velmora::productNameBefore(sorted[i], sorted[j]), i < j)
                << sorted[i] << " / " << sorted[j];
}

class ProductsViewTest : public ScreenTest {
protected:
    void prepare(Database& db) override {
        for (const char* name : {"pizza", "Pizza 10", "Pizza", "Pizza 9"})
            product(db, name, 900);
        agua_ = product(db, "Agua", 150, Category::drink());
        Product off = product(db, "Cerveza", 250, Category::drink());
        off.active = false;
        db.saveProduct(off, friday);
    }
    void SetUp() override {
        ScreenTest::SetUp();
        if (HasFatalFailure()) return;
        view_ = std::make_unique<ProductsView>(store(), thumbnails_);
        view_->resize(1000, 700);
        view_->show();
        settle();
    }

    ProductEditor* editorFor(const QString& name) {
        clickRowButton(view_->list(), view_->rowActions(), static_cast<int>(rows(*view_).indexOf(name)),
                       ProductsView::edit);
        return openSheet<ProductEditor>(*view_);
    }

    CategoriesView* categories() {
        child<QPushButton>(*view_, "categories").click();
        return openSheet<CategoriesView>(*view_);
    }

    velmora::ThumbnailCache thumbnails_;
    Product agua_;
    std::unique_ptr<ProductsView> view_;
};

TEST_F(ProductsViewTest, ListsTheMenuByCategoryInNameOrder) {
    EXPECT_EQ(rows(*view_), (QStringList{"# Pizzas", "Pizza", "Pizza 9", "Pizza 10", "pizza", "# Refrescos",
                                         "Agua", "Cerveza", "# Complementos"}));
    const QModelIndex cerveza = view_->model().index(static_cast<int>(rows(*view_).indexOf("Cerveza")));
    EXPECT_EQ(cerveza.data(ProductsModel::AvailabilityRole).toString(), "No disponible");
    EXPECT_EQ(cerveza.data(ProductsModel::PriceRole).toString(), "2,50 EUR");
    EXPECT_EQ(view_->model().index(1).data(ProductsModel::AvailabilityRole).toString(), "");
    EXPECT_FALSE(view_->showsEmptyMessage());
}

TEST_F(ProductsViewTest, AnEmptyMenuShowsItsMessage) {
    ASSERT_TRUE(store().transact([](Database& db) { db.products.clear(); }));
    EXPECT_TRUE(view_->showsEmptyMessage());
}

TEST_F(ProductsViewTest, TheEditorSavesANewProductAndKeepsWhatWasTypedWhenRefused) {
    child<QPushButton>(*view_, "newProduct").click();
    QPointer<ProductEditor> editor = openSheet<ProductEditor>(*view_);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->width(), 450);
    auto& name = child<QLineEdit>(*editor, "name");
    auto& price = child<QLineEdit>(*editor, "price");
    auto& category = child<QComboBox>(*editor, "category");
    auto& tax = child<QComboBox>(*editor, "taxRate");
    EXPECT_EQ(editor->focusWidget(), &name) << "the sheet opens with the cursor in the name";
    EXPECT_EQ(price.text(), "0,00");
    EXPECT_EQ(price.accessibleName(), "Precio final (EUR)");
    EXPECT_TRUE(child<QCheckBox>(*editor, "active").isChecked());
    QStringList rates;
    for (int i = 0; i < tax.count(); ++i)
        rates << tax.itemText(i);
    EXPECT_EQ(rates, (QStringList{"Sin configurar", "4.00 %", "10.00 %", "21.00 %"}));

    const std::size_t audit = store().db().audit.size();
    name.setText("Tiramisú");
    price.setText("4,5x");
    child<QPushButton>(*editor, "save").click();
    written();
    EXPECT_EQ(editor->error(), "Escribe un importe positivo con un máximo de dos decimales.");
    name.setText("   ");
    price.setText("4,50");
    child<QPushButton>(*editor, "save").click();
    written();
    EXPECT_EQ(editor->error(), "Revisa nombre y precio del producto.");
    EXPECT_EQ(price.text(), "4,50");
    EXPECT_EQ(store().db().audit.size(), audit);

    name.setText("Tiramisú");
    category.setCurrentIndex(2);
    tax.setCurrentIndex(2);
    child<QPushButton>(*editor, "save").click();
    written();
    settle();
    EXPECT_FALSE(editor);
    const Database saved = reloaded();
    const Product& made = saved.products.back();
    EXPECT_EQ(made.name, "Tiramisú");
    EXPECT_EQ(made.cents, 450);
    EXPECT_EQ(made.category, Category::side());
    EXPECT_EQ(made.taxRate, 1000);
    EXPECT_EQ(saved.audit.back().action, "Guardar producto");
    EXPECT_EQ(saved.audit.back().reference, made.id.text());
    EXPECT_EQ(rows(*view_).back(), "Tiramisú");
}

TEST_F(ProductsViewTest, ThePhotoIsAttachedRefusedAndRemovedInTheEditor) {
    QPointer<ProductEditor> editor = editorFor("Agua");
    ASSERT_NE(editor, nullptr);
    EXPECT_FALSE(child<QPushButton>(*editor, "removeImage").isVisibleTo(editor));

    const auto photo = folder() / "agua.png";
    pizzacore::testing::writeFile(photo, toString(encoded(twoColours(1024, 512), "PNG")));
    platform_.answerNextOpenPanel(photo);
    child<QPushButton>(*editor, "attachImage").click();
    ASSERT_TRUE(editor->product().image);
    const pizzacore::Bytes attached = *editor->product().image;
    EXPECT_EQ(QImage::fromData(attached.data(), static_cast<int>(attached.size())).size(), QSize(512, 256));
    EXPECT_TRUE(child<QPushButton>(*editor, "removeImage").isVisibleTo(editor));

    // A refused file leaves the picture as it was and says why in red.
    const auto text = folder() / "nota.png";
    pizzacore::testing::writeFile(text, "no es una imagen");
    platform_.answerNextOpenPanel(text);
    child<QPushButton>(*editor, "attachImage").click();
    EXPECT_EQ(editor->error(), "No se pudo abrir la imagen.");
    saveScreenshot(*editor, "Velmora-producto.png");
    EXPECT_EQ(editor->product().image, attached);
    // Cancelling the panel changes nothing.
    child<QPushButton>(*editor, "attachImage").click();
    EXPECT_EQ(editor->product().image, attached);

    child<QPushButton>(*editor, "save").click();
    written();
    settle();
    EXPECT_EQ(reloaded().products[4].image, attached);
    saveScreenshot(*view_, "Velmora-productos.png");

    editor = editorFor("Agua");
    child<QPushButton>(*editor, "removeImage").click();
    EXPECT_FALSE(editor->product().image);
    child<QPushButton>(*editor, "save").click();
    written();
    settle();
    EXPECT_FALSE(reloaded().products[4].image);
}

TEST_F(ProductsViewTest, DeletingAProductAsksFirst) {
    const int row = static_cast<int>(rows(*view_).indexOf("Agua"));
    platform_.answerNextAlert(QStringLiteral("Cancelar"));
    clickRowButton(view_->list(), view_->rowActions(), row, ProductsView::remove);
    ASSERT_EQ(platform_.alerts().size(), 1u);
    EXPECT_EQ(platform_.alerts().back().message,
              "¿Eliminar el producto del catálogo? El histórico se conserva.");
    EXPECT_EQ(platform_.alerts().back().buttons, (QStringList{"Eliminar", "Cancelar"}));
    EXPECT_EQ(reloaded().products.size(), 6u);

    platform_.answerNextAlert(QStringLiteral("Eliminar"));
    clickRowButton(view_->list(), view_->rowActions(), row, ProductsView::remove);
    const Database saved = reloaded();
    EXPECT_EQ(saved.products.size(), 5u);
    EXPECT_EQ(saved.audit.back().action, "Eliminar producto");
    EXPECT_EQ(saved.audit.back().reference, agua_.id.text());
    EXPECT_FALSE(rows(*view_).contains("Agua"));
}

TEST_F(ProductsViewTest, CategoriesAreCreatedAndRenamedWithTheCoreRules) {
    QPointer<CategoriesView> sheet = categories();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->model().rowCount(), 3);
    EXPECT_EQ(sheet->model().index(0).data(velmora::CategoriesModel::DetailRole).toString(),
              "4 productos · Cocina");
    EXPECT_EQ(sheet->model().index(1).data(velmora::CategoriesModel::DetailRole).toString(),
              "2 productos · Barra");
    saveScreenshot(*sheet, "Velmora-categorias.png");

    child<QPushButton>(*sheet, "newCategory").click();
    QPointer<CategoryEditor> editor = openSheet<CategoryEditor>(*sheet);
    ASSERT_NE(editor, nullptr);
    child<QLineEdit>(*editor, "name").setText("  Postres ");
    child<QPushButton>(*editor, "save").click();
    written();
    settle();
    EXPECT_FALSE(editor);
    EXPECT_EQ(store().db().categories.back().rawValue, "Postres");
    EXPECT_EQ(sheet->model().rowCount(), 4);

    child<QPushButton>(*sheet, "newCategory").click();
    editor = openSheet<CategoryEditor>(*sheet);
    child<QLineEdit>(*editor, "name").setText("póstres");
    child<QPushButton>(*editor, "save").click();
    written();
    EXPECT_EQ(editor->error(), "Escribe un nombre de categoría único.");
    EXPECT_EQ(store().db().categories.size(), 4u);
    child<QPushButton>(*editor, "cancel").click();
    settle();

    // Renaming Refrescos to Bebidas and sending it to the kitchen reaches its products.
    clickRowButton(sheet->list(), sheet->rowActions(), 1, CategoriesView::edit);
    editor = openSheet<CategoryEditor>(*sheet);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->destination().checkedId(), 1);
    child<QLineEdit>(*editor, "name").setText("Bebidas");
    child<QPushButton>(*editor, "kitchen").click();
    child<QPushButton>(*editor, "save").click();
    written();
    settle();
    const Database saved = reloaded();
    EXPECT_EQ(saved.categories[1].rawValue, "Bebidas");
    EXPECT_EQ(saved.products[4].category, saved.categories[1]);
    EXPECT_FALSE(saved.categories[1].bar);
    EXPECT_EQ(saved.audit.back().action, "Guardar categoría");
    EXPECT_TRUE(rows(*view_).contains("# Bebidas"));
    EXPECT_EQ(sheet->model().index(1).data(velmora::CategoriesModel::DetailRole).toString(),
              "2 productos · Cocina");
}

TEST_F(ProductsViewTest, ACategoryIsEmptiedByMovingAndThenDeleted) {
    QPointer<CategoriesView> sheet = categories();
    clickRowButton(sheet->list(), sheet->rowActions(), 1, CategoriesView::remove);
    QPointer<RemoveCategorySheet> remove = openSheet<RemoveCategorySheet>(*sheet);
    ASSERT_NE(remove, nullptr);
    EXPECT_EQ(child<QLabel>(*remove, "sheetTitle").text(), "Eliminar «Refrescos»");
    EXPECT_EQ(remove->explanation(), "Esta categoría tiene 2 productos. Trasládalos antes de eliminarla.");
    EXPECT_EQ(remove->moveButton().text(), "Trasladar 2 productos");
    EXPECT_FALSE(remove->deleteButton().isEnabled());
    saveScreenshot(*remove, "Velmora-eliminar-categoria.png");
    // The first other category is proposed.
    EXPECT_EQ(remove->destination().currentText(), "Pizzas");
    remove->destination().setCurrentIndex(1);
    remove->moveButton().click();
    written();
    EXPECT_EQ(remove->explanation(), "La categoría está vacía y se puede eliminar.");
    EXPECT_TRUE(remove->deleteButton().isEnabled());
    EXPECT_EQ(store().db().audit.back().action, "Trasladar productos");
    EXPECT_EQ(store().db().audit.back().reference, "Refrescos → Complementos");

    remove->deleteButton().click();
    written();
    settle();
    EXPECT_FALSE(remove);
    const Database saved = reloaded();
    EXPECT_EQ(saved.categories.size(), 2u);
    EXPECT_EQ(saved.audit.back().action, "Eliminar categoría");
    EXPECT_TRUE(std::all_of(saved.products.begin(), saved.products.end(),
                            [](const Product& p) { return p.category.rawValue != "Refrescos"; }));
    EXPECT_EQ(rows(*view_), (QStringList{"# Pizzas", "Pizza", "Pizza 9", "Pizza 10", "pizza",
                                         "# Complementos", "Agua", "Cerveza"}));
    EXPECT_FALSE(store().message());
}

TEST_F(ProductsViewTest, TheOnlyCategoryCannotBeEmptiedNorDeleted) {
    ASSERT_TRUE(store().transact([](Database& db) {
        erase_if(db.products, [](const Product& p) { return p.category.id != Category::pizza().id; });
        db.categories = {Category::pizza()};
    }));
    QPointer<CategoriesView> sheet = categories();
    clickRowButton(sheet->list(), sheet->rowActions(), 0, CategoriesView::remove);
    QPointer<RemoveCategorySheet> remove = openSheet<RemoveCategorySheet>(*sheet);
    ASSERT_NE(remove, nullptr);
    EXPECT_EQ(remove->destination().count(), 0);
    remove->moveButton().click();
    written();
    EXPECT_EQ(remove->error(), "Elige otra categoría de destino.");
    EXPECT_FALSE(remove->deleteButton().isEnabled());

    ASSERT_TRUE(store().transact([](Database& db) { db.products.clear(); }));
    EXPECT_TRUE(remove->deleteButton().isEnabled());
    remove->deleteButton().click();
    written();
    EXPECT_EQ(store().message(), "Conserva al menos una categoría.");
    EXPECT_EQ(reloaded().categories.size(), 1u);
}

} // namespace
